// Process entry: the main window, the version banner, and the message loop.
#include <windows.h>

#include <commctrl.h>

#include "app/main_window.h"
#include "app/updater_version_banner.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    ModuleInstance = instance;

    // The templates use only the standard button, list box and static classes.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    RegisterMainWindowClass(instance);
    // Without a window nothing could ever post the quit message, and the process would wait
    // unseen forever.
    if (CreateMainWindow(instance) == nullptr) {
        return 1;
    }
    ShowUpdaterVersion();
    ShowWindow(MainWindow, showCommand);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // The dialog keyboard handling: Tab, the arrow keys, Enter and Escape.
        if (!IsDialogMessageW(MainWindow, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

// The main window's class and procedure, and its three commands.
#include "app/main_window.h"

#include <process.h>

#include <cstdint>

#include "app/about_box.h"
#include "app/taskbar_progress.h"
#include "res/resource_ids.h"
#include "update/update_run.h"

HINSTANCE ModuleInstance = nullptr;
HWND MainWindow = nullptr;

namespace {

unsigned __stdcall RunThread(void*) {
    UpdateRun();
    return 0;
}

// PROGRAM stays disabled until the run enables it as its last act; that is what keeps a second
// run from starting while one is under way. Nothing waits for the worker.
void ProgramCommand(HWND window) {
    const HWND program = GetDlgItem(window, IDC_PROGRAM);
    // A command posted by another program reaches the window even while the button is disabled;
    // a second run at the same time would share the link and the image with the first.
    if (!IsWindowEnabled(program)) {
        return;
    }
    EnableWindow(program, FALSE);
    const std::uintptr_t thread = _beginthreadex(nullptr, 0, RunThread, nullptr, 0, nullptr);
    if (thread == 0) {
        // No run will come to enable the button, so it is enabled here for another try.
        EnableWindow(program, TRUE);
        return;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

LRESULT Command(HWND window, WORD identifier) {
    switch (identifier) {
        case IDC_PROGRAM:
            ProgramCommand(window);
            break;
        case IDC_EXIT:
            // The loop ends on the quit message; the window goes with the process.
            PostQuitMessage(0);
            break;
        case IDC_ABOUT:
            ShowAboutBox(window);
            break;
        default:
            // The list's notifications, IDOK and IDCANCEL (Enter and Escape) do nothing.
            break;
    }
    return 0;
}

// The window has no dialog procedure: the dialog keyboard handling comes from IsDialogMessageW
// in the message loop, everything else from the plain default window procedure.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            return Command(window, LOWORD(wParam));
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SHOWWINDOW:
            // Handled without the default, which would show or hide the window itself when the
            // message says that its owner is being minimised or restored. The main window has
            // no owner, so nothing is lost; it is shown and hidden only by ShowWindow calls.
            return 0;
        default:
            // The taskbar button's progress: the shell's message and the run's posts.
            if (HandleTaskbarMessage(window, message, wParam)) {
                return 0;
            }
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    // A dialog window keeps its dialog-manager data in these bytes.
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = MAIN_WINDOW_CLASS;
    // No small icon: the system picks the small image out of IDI_APP.
    windowClass.hIconSm = nullptr;
    RegisterClassExW(&windowClass);
}

HWND CreateMainWindow(HINSTANCE instance) {
    // Before the window exists, so that the shell's message is known when it comes.
    RegisterTaskbarButtonMessage();
    MainWindow = CreateDialogParamW(instance, MAIN_WINDOW_CLASS, nullptr, nullptr, 0);
    return MainWindow;
}

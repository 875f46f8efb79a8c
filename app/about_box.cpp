#include "app/about_box.h"

#include "app/main_window.h"

namespace {

constexpr wchar_t ABOUT_TEMPLATE[] = L"ABOUTBOX";

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            // TRUE lets the system put the focus on the first tab stop, the OK button.
            return TRUE;
        case WM_COMMAND:
            // OK, Enter, Escape and the close box all arrive as IDOK or IDCANCEL.
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, 0);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void ShowAboutBox(HWND owner) {
    DialogBoxParamW(ModuleInstance, ABOUT_TEMPLATE, owner, AboutProc, 0);
}

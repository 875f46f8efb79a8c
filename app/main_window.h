// The main window: a modeless dialog of its own window class, with PROGRAM, Exit and About and
// the status list. Its handle is the process-wide owner of every message box of a run.
#pragma once

#include <windows.h>

#include "res/resource_ids.h"

// Both written once on the user-interface thread before any worker thread exists, and only read
// afterwards, so the workers need no lock to read them.
extern HINSTANCE ModuleInstance;
extern HWND MainWindow;

// Names both the window class and the dialog template it is created from.
inline constexpr wchar_t MAIN_WINDOW_CLASS[] = L"" MAIN_WINDOW_CLASS_NAME;

// Registers the main window's class; the result is not needed, a failure shows as a missing
// window.
void RegisterMainWindowClass(HINSTANCE instance);

// Creates the main window, still hidden, and stores it in MainWindow. Null on failure.
HWND CreateMainWindow(HINSTANCE instance);

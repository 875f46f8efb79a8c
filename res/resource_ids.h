// Identifiers shared by the resource script, the program and the end-to-end driver. Plain macros,
// because the resource compiler's preprocessor understands nothing else. The end-to-end harness
// (tests/e2e/e2e_support.py) reads this file too, so each stays one `#define NAME value` line.
#pragma once

// The main window's class, and the name of the dialog template it is created from. A narrow
// literal, because the resource script takes no other; C++ widens it as L"" MAIN_WINDOW_CLASS_NAME.
#define MAIN_WINDOW_CLASS_NAME "USB3_DEZIZARA"

// Controls of the main window.
#define IDC_PROGRAM 1001
#define IDC_EXIT 1002
#define IDC_ABOUT 1003
#define IDC_STATUS_LIST 1005

// The picture control of the About box.
#define IDC_ABOUT_BITMAP 1006

#define IDB_ABOUT 107
#define IDI_APP 108

// Group boxes and static texts that the program never addresses.
#define IDC_UNUSED -1

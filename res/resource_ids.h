// Identifiers shared by the resource script and the program. Plain macros, because the resource
// compiler's preprocessor understands nothing else.
#pragma once

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

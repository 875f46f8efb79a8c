// The modal About box.
#pragma once

#include <windows.h>

// Shows the box over `owner` and returns once the user has closed it.
void ShowAboutBox(HWND owner);

// The one open link to the tester, shared by discovery and the frame exchange.
#pragma once

#include "link/d2xx.h"

// The device handle of the open tester link; null while no link is open. Left open when a run
// ends and closed at the start of the next run's discovery.
extern FT_HANDLE TesterLink;

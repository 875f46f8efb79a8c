// What the command line does differently on each platform, beside the device library and the
// clock: where a device is, why an open failed, Ctrl-C, and where firmware lies by default.
#pragma once

#include <optional>
#include <string>

#include "link/tester_discovery.h"

// Where the listed tester is: its device node on Linux, its place in the library's list on
// Windows.
std::string DeviceLocation(const AttachedTester& tester);

// Why the last open of the tester failed, in words for the user, remedy included.
std::string OpenFailureReason();

// From here on Ctrl-C asks the run to stop after the exchange in progress; a second Ctrl-C ends
// the program at once.
void CatchInterrupt();

// The folder for --firmware-dir, separator appended; none without one: then the program's own
// folder on Windows, the current directory on Linux.
std::optional<std::u16string> FirmwareFolder(const std::optional<std::string>& directory);

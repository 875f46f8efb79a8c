// Where the firmware image for a hardware revision lies: beside the executable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "update/tester_commands.h"

// The executable's folder (up to and including its last backslash) followed by the revision's
// file name. False when the path has no folder, or when the result, with its terminating zero,
// would not fit the path buffer.
bool ComposeFirmwarePath(std::u16string_view executablePath, HardwareRevision revision,
                         std::u16string& path);

// The revision's file name appended to `folder`, which ends with its separator. False when the
// result, with its terminating zero, would not fit the path buffer.
bool ComposeFirmwarePathInFolder(std::u16string_view folder, HardwareRevision revision,
                                 std::u16string& path);

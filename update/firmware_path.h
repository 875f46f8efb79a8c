// Where the firmware image for a hardware revision lies: beside the executable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using HardwareRevision = std::uint8_t;

// Only this code means revision-2 hardware; every other code is revision 1.
constexpr HardwareRevision REVISION_2_CODE = 20;
constexpr HardwareRevision REVISION_1_CODE = 10;

// The executable's folder (up to and including its last backslash) followed by the revision's
// file name. False when the path has no folder, or when the result, with its terminating zero,
// would not fit the path buffer.
bool ComposeFirmwarePath(std::u16string_view executablePath, HardwareRevision revision,
                         std::u16string& path);

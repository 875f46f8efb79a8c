// The updater's own version as the status list shows it: the first version-like number in the
// first bytes of ReadMe.txt. Portable, so that the scan is tested natively; the Windows side
// only reads the file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// How much of ReadMe.txt is read; bytes the file does not supply stay zero.
constexpr std::size_t VERSION_BUFFER_SIZE = 80;
// A version starts at one of the first positions only, so that its two following bytes are
// always inside the buffer with room to spare.
constexpr std::size_t VERSION_START_POSITIONS = 76;
// The version is the starting digit and the two bytes after it.
constexpr std::size_t VERSION_TEXT_UNITS = 3;

using VersionBuffer = std::array<std::uint8_t, VERSION_BUFFER_SIZE>;

inline constexpr std::u16string_view VERSION_ERROR_LINE =
    u"Error reading version from ReadMe.txt\n";
// Shown in place of the version when ReadMe.txt could not be read.
inline constexpr std::u16string_view UNKNOWN_VERSION = u"?";

// The first byte 1 to 8 among the first VERSION_START_POSITIONS bytes and the two bytes after
// it, each widened as a signed 8-bit value; a zero byte ends the text early. Empty when no
// byte qualifies.
std::u16string ScanVersionText(const VersionBuffer& buffer);

// "REDuzazav Version: <version>\n".
std::u16string VersionLine(std::u16string_view version);

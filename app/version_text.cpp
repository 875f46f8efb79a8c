#include "app/version_text.h"

namespace {

// Digits 0 and 9 never start a version.
bool StartsVersion(std::uint8_t byte) {
    return byte >= '1' && byte <= '8';
}

// The file's bytes carry no declared encoding; each one becomes one code unit the way a signed
// char widens, so 0x80 to 0xFF turn into 0xFF80 to 0xFFFF.
char16_t Widen(std::uint8_t byte) {
    return static_cast<char16_t>(static_cast<std::int16_t>(static_cast<std::int8_t>(byte)));
}

}  // namespace

std::u16string ScanVersionText(const VersionBuffer& buffer) {
    std::u16string text;
    for (std::size_t position = 0; position < VERSION_START_POSITIONS; ++position) {
        if (!StartsVersion(buffer[position])) {
            continue;
        }
        for (std::size_t k = 0; k < VERSION_TEXT_UNITS && buffer[position + k] != 0; ++k) {
            text += Widen(buffer[position + k]);
        }
        break;
    }
    return text;
}

std::u16string VersionLine(std::u16string_view version) {
    std::u16string line = u"REDuzazav Version: ";
    line += version;
    line += u'\n';
    return line;
}

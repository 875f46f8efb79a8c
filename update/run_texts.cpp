#include "update/run_texts.h"

namespace {

constexpr std::u16string_view VERSION_PLACEHOLDER = u"%0.1f";

}  // namespace

// Tenths are exact in one decimal, so whole part and last digit print the value as "%0.1f" would.
std::u16string FirmwareVersionText(std::uint8_t tenths) {
    std::u16string number;
    for (const char c : std::to_string(tenths / 10)) {
        number += static_cast<char16_t>(c);
    }
    number += u'.';
    number += static_cast<char16_t>(u'0' + tenths % 10);
    return number;
}

std::u16string FirmwareVersionLine(std::uint8_t tenths) {
    std::u16string line(RunTextOf(RunText::FirmwareVersionLine));
    line.replace(line.find(VERSION_PLACEHOLDER), VERSION_PLACEHOLDER.size(),
                 FirmwareVersionText(tenths));
    return line;
}

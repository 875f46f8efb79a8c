// Every text an update run shows the user, in one table: the endings' messages, the error box's
// caption, the revision prompt and the status lines. Both front ends take their texts from here,
// so the window and the command line cannot drift apart. The texts are the tester's documented
// wording, kept code unit for code unit, trailing line feeds included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class RunText : std::size_t {
    NoTesterMessage,
    SeveralTestersMessage,
    FirmwareNotFoundMessage,
    FirmwareUnreadableMessage,
    ProgrammingFailedMessage,
    TesterNotReadyMessage,
    ErrorCaption,
    RevisionPromptCaption,
    RevisionPromptText,
    // A format: "%0.1f" stands for the firmware version; FirmwareVersionLine fills it in.
    FirmwareVersionLine,
    BurningLine,
    CompleteLine,
};

struct RunTextEntry {
    RunText id;
    std::u16string_view text;
};

inline constexpr RunTextEntry RUN_TEXTS[] = {
    {RunText::NoTesterMessage,
     u"No Corvalt USB Power Delivery Tester device detected.\n"
     u"You may need to plug in (or install) USB devices.\n"},
    {RunText::SeveralTestersMessage,
     u"This application only supports 1 connected USB Power Delivery Tester device.\n"
     u"You need to remove USB devices.\n"},
    {RunText::FirmwareNotFoundMessage, u"Failed to find firmware file."},
    // Ours: a file that opens but cannot be read whole must not be flashed in part.
    {RunText::FirmwareUnreadableMessage, u"Failed to read firmware file."},
    {RunText::ProgrammingFailedMessage, u"Failed to program firmware."},
    {RunText::TesterNotReadyMessage, u"Please unplug and reconnect the tester and try again."},
    {RunText::ErrorCaption, u"VIVAD Updater: Error"},
    {RunText::RevisionPromptCaption, u"REduzazav Warning"},
    {RunText::RevisionPromptText,
     u"Failed to read the hardware revision of the USB Power Delivery Tester.\n"
     u"Please check the label on the back of the tester to discover the hardware revision.\n"
     u"\n"
     u"Is this revision #1 hardware ?\n"
     u"Click YES, to load the firmware for HX200 (Revision 1 hardware).\n"
     u"Click NO, to load the firmware for HX300 (Revision 2 hardware).\n"
     u"Click Cancel, to take no action.\n"},
    {RunText::FirmwareVersionLine, u"Current firmware version: %0.1f\n"},
    {RunText::BurningLine, u"Burning in Progress.\n Do not unplug.\n"},
    {RunText::CompleteLine, u"Programming complete.\n"},
};

constexpr std::size_t RUN_TEXT_COUNT = sizeof RUN_TEXTS / sizeof RUN_TEXTS[0];

// The table is indexed by its ids, so each entry must stand at its own id's place.
constexpr bool RunTextsInOrder() {
    for (std::size_t i = 0; i < RUN_TEXT_COUNT; ++i) {
        if (static_cast<std::size_t>(RUN_TEXTS[i].id) != i) {
            return false;
        }
    }
    return RUN_TEXT_COUNT == static_cast<std::size_t>(RunText::CompleteLine) + 1;
}
static_assert(RunTextsInOrder(), "RUN_TEXTS must list every RunText once, in enum order");

constexpr std::u16string_view RunTextOf(RunText id) {
    return RUN_TEXTS[static_cast<std::size_t>(id)].text;
}

// The version byte in tenths as "%0.1f" prints it divided by ten: 45 gives "4.5", 7 gives "0.7".
std::u16string FirmwareVersionText(std::uint8_t tenths);

// The firmware version line for a version byte in tenths, the way "%0.1f" prints the byte
// divided by ten: 45 gives "Current firmware version: 4.5\n", 255 gives "... 25.5\n".
std::u16string FirmwareVersionLine(std::uint8_t tenths);

// Every way an update run can end, and the message each one shows.
#pragma once

#include <string_view>

enum class RunEnding {
    ProgrammingComplete,
    NoTester,  // no device carries the tester prefix
    NoReply,   // the tester answers neither identification command
    SeveralTesters,
    OpenFailed,
    Cancelled,  // Cancel, or no answer at all, in the revision prompt
    FirmwareNotFound,
    FirmwareUnreadable,
    ProgrammingFailed,
    TesterNotReady,
};

// The text the run's exit shows in the error box; empty for the endings that show none.
std::u16string_view EndingMessage(RunEnding ending);

inline constexpr std::u16string_view NO_TESTER_MESSAGE =
    u"No Corvalt USB Power Delivery Tester device detected.\n"
    u"You may need to plug in (or install) USB devices.\n";
inline constexpr std::u16string_view SEVERAL_TESTERS_MESSAGE =
    u"This application only supports 1 connected USB Power Delivery Tester device.\n"
    u"You need to remove USB devices.\n";
inline constexpr std::u16string_view FIRMWARE_NOT_FOUND_MESSAGE = u"Failed to find firmware file.";
inline constexpr std::u16string_view FIRMWARE_UNREADABLE_MESSAGE = u"Failed to read firmware file.";
inline constexpr std::u16string_view PROGRAMMING_FAILED_MESSAGE = u"Failed to program firmware.";
inline constexpr std::u16string_view TESTER_NOT_READY_MESSAGE =
    u"Please unplug and reconnect the tester and try again.";

inline constexpr std::u16string_view ERROR_CAPTION = u"VIVAD Updater: Error";

inline constexpr std::u16string_view REVISION_PROMPT_CAPTION = u"REduzazav Warning";
inline constexpr std::u16string_view REVISION_PROMPT_TEXT =
    u"Failed to read the hardware revision of the USB Power Delivery Tester.\n"
    u"Please check the label on the back of the tester to discover the hardware revision.\n"
    u"\n"
    u"Is this revision #1 hardware ?\n"
    u"Click YES, to load the firmware for HX200 (Revision 1 hardware).\n"
    u"Click NO, to load the firmware for HX300 (Revision 2 hardware).\n"
    u"Click Cancel, to take no action.\n";

inline constexpr std::u16string_view BURNING_LINE = u"Burning in Progress.\n Do not unplug.\n";
inline constexpr std::u16string_view COMPLETE_LINE = u"Programming complete.\n";

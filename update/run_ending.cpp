#include "update/run_ending.h"

std::u16string_view EndingMessage(RunEnding ending) {
    switch (ending) {
        case RunEnding::NoTester:
        case RunEnding::NoReply:
            return NO_TESTER_MESSAGE;
        case RunEnding::SeveralTesters:
            return SEVERAL_TESTERS_MESSAGE;
        case RunEnding::FirmwareNotFound:
            return FIRMWARE_NOT_FOUND_MESSAGE;
        case RunEnding::FirmwareUnreadable:
            return FIRMWARE_UNREADABLE_MESSAGE;
        case RunEnding::ProgrammingFailed:
            return PROGRAMMING_FAILED_MESSAGE;
        case RunEnding::TesterNotReady:
            return TESTER_NOT_READY_MESSAGE;
        case RunEnding::ProgrammingComplete:
        case RunEnding::OpenFailed:
        case RunEnding::Cancelled:
            break;
    }
    return {};
}

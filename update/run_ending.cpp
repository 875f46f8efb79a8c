#include "update/run_ending.h"

#include "update/run_texts.h"

std::u16string_view EndingMessage(RunEnding ending) {
    switch (ending) {
        case RunEnding::NoTester:
        case RunEnding::NoReply:
            return RunTextOf(RunText::NoTesterMessage);
        case RunEnding::SeveralTesters:
            return RunTextOf(RunText::SeveralTestersMessage);
        case RunEnding::FirmwareNotFound:
            return RunTextOf(RunText::FirmwareNotFoundMessage);
        case RunEnding::FirmwareUnreadable:
            return RunTextOf(RunText::FirmwareUnreadableMessage);
        case RunEnding::ProgrammingFailed:
            return RunTextOf(RunText::ProgrammingFailedMessage);
        case RunEnding::TesterNotReady:
            return RunTextOf(RunText::TesterNotReadyMessage);
        case RunEnding::ProgrammingComplete:
        case RunEnding::OpenFailed:
        case RunEnding::Cancelled:
        case RunEnding::Interrupted:
        case RunEnding::RevisionContradicts:
            break;
    }
    return {};
}

#include "cli/exit_codes.h"

ExitCode ExitCodeOf(RunEnding ending) {
    switch (ending) {
        case RunEnding::ProgrammingComplete:
            return ExitCode::Done;
        case RunEnding::NoTester:
        case RunEnding::NoReply:
            return ExitCode::NoTester;
        case RunEnding::SeveralTesters:
            return ExitCode::SeveralTesters;
        case RunEnding::OpenFailed:
            return ExitCode::OpenFailed;
        case RunEnding::Cancelled:
            return ExitCode::RevisionUnknown;
        case RunEnding::FirmwareNotFound:
            return ExitCode::FirmwareNotFound;
        case RunEnding::FirmwareUnreadable:
            return ExitCode::FirmwareUnreadable;
        case RunEnding::ProgrammingFailed:
            return ExitCode::ProgrammingFailed;
        case RunEnding::TesterNotReady:
            return ExitCode::TesterNotReady;
        case RunEnding::Interrupted:
            return ExitCode::Interrupted;
        case RunEnding::RevisionContradicts:
            return ExitCode::RevisionContradicts;
    }
    return ExitCode::ProgrammingFailed;
}

// The command-line updater's exit codes: one per way a run can end, so that a script can tell
// the endings apart without reading the messages.
#pragma once

#include <string_view>

#include "update/run_ending.h"

enum class ExitCode : int {
    Done = 0,
    Usage = 2,
    NoTester = 3,
    SeveralTesters = 4,
    OpenFailed = 5,
    FirmwareNotFound = 6,
    FirmwareUnreadable = 7,
    ProgrammingFailed = 8,
    TesterNotReady = 9,
    RevisionUnknown = 10,
    RevisionContradicts = 11,
    Interrupted = 130,
};

struct ExitCodeEntry {
    ExitCode code;
    std::string_view meaning;
};

// In the order --help lists them.
inline constexpr ExitCodeEntry EXIT_CODES[] = {
    {ExitCode::Done, "complete (list, info: done)"},
    {ExitCode::Usage, "bad arguments; nothing was opened"},
    {ExitCode::NoTester, "no tester found, or it does not answer"},
    {ExitCode::SeveralTesters, "several testers attached (pick one with --serial)"},
    {ExitCode::OpenFailed, "the tester could not be opened"},
    {ExitCode::FirmwareNotFound, "firmware file not found"},
    {ExitCode::FirmwareUnreadable, "firmware file unreadable"},
    {ExitCode::ProgrammingFailed, "programming failed: the tester stopped answering"},
    {ExitCode::TesterNotReady, "the tester's bootloader is not ready"},
    {ExitCode::RevisionUnknown, "hardware revision unknown, or the prompt was cancelled"},
    {ExitCode::RevisionContradicts, "the tester reports another revision than --revision"},
    {ExitCode::Interrupted, "interrupted (Ctrl-C)"},
};

ExitCode ExitCodeOf(RunEnding ending);

constexpr int AsInt(ExitCode code) {
    return static_cast<int>(code);
}

// Every way an update run can end, and the message each one shows (texts: update/run_texts.h).
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
    // Endings only the command line can bring about; their words are the front end's own.
    Interrupted,          // asked to stop between two exchanges
    RevisionContradicts,  // the tester reports another revision than the user gave
};

// The text the run's exit shows in the error box; empty for the endings that show none.
std::u16string_view EndingMessage(RunEnding ending);

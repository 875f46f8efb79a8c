// The run host of the command line: status lines to standard output as they are added, the
// ending's message to standard error, the revision prompt answered by --revision or at the
// terminal, and the transfer's progress on standard error.
#pragma once

#include <optional>

#include "cli/progress_meter.h"
#include "update/tester_commands.h"

struct ConsoleHostSettings {
    // --revision: the prompt's answer, given beforehand.
    std::optional<HardwareRevision> revisionAnswer;
    ProgressStyle progressStyle = ProgressStyle::None;
};

void SetUpConsoleHost(const ConsoleHostSettings& settings);

// Writes to standard error, after ending an open progress line.
void WriteError(const std::string& text);

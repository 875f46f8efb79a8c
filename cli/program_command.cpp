#include "cli/console.h"
#include "cli/console_run_host.h"
#include "cli/exit_codes.h"
#include "cli/flash_commands.h"
#include "cli/flash_texts.h"
#include "cli/frame_trace_file.h"
#include "cli/platform.h"
#include "link/tester_discovery.h"
#include "update/run_stop.h"
#include "update/update_run.h"

namespace {

ProgressStyle ChooseProgressStyle(bool quiet) {
    if (quiet) {
        return ProgressStyle::None;
    }
    return IsTerminal(Stream::Err) ? ProgressStyle::Redrawn : ProgressStyle::TenthLines;
}

// What the run's own message does not say, in the command line's words.
void Explain(RunEnding ending, const RunReport& report, const RunRequest& request) {
    const std::string finish = FinishCommand(PROGRAM_NAME, request.serial, report.revision);
    switch (ending) {
        case RunEnding::OpenFailed:
            WriteError(OpenFailedText(report.serial, OpenFailureReason()) + "\n");
            break;
        case RunEnding::Cancelled:
            // Only a prompt cancels, and with --revision it is never asked.
            WriteError(
                std::string(StandardInputIsTerminal() ? PROMPT_CANCELLED : NO_TERMINAL_FOR_PROMPT) +
                "\n");
            break;
        case RunEnding::RevisionContradicts:
            // Only a revision the user gave can be contradicted.
            WriteError(ContradictionText(report, request.expectedRevision.value_or(0)) + "\n");
            break;
        case RunEnding::Interrupted:
            WriteError(InterruptedText(report, finish) + "\n");
            break;
        case RunEnding::FirmwareNotFound:
        case RunEnding::FirmwareUnreadable:
        case RunEnding::ProgrammingFailed:
        case RunEnding::TesterNotReady: {
            const std::string left = LeftInBootloaderText(report, finish);
            if (!left.empty()) {
                WriteError(left + "\n");
            }
            break;
        }
        case RunEnding::ProgrammingComplete:
        case RunEnding::NoTester:
        case RunEnding::NoReply:
        case RunEnding::SeveralTesters:
            break;
    }
}

}  // namespace

int ProgramTester(const FlashOptions& options) {
    if (options.traceFile) {
        std::string error;
        if (!StartFrameTrace(*options.traceFile, error)) {
            Write(Stream::Err, std::string(PROGRAM_NAME) + ": " + error + "\n");
            return AsInt(ExitCode::Usage);
        }
    }
    RunRequest request;
    request.serial = options.serial;
    if (options.revision) {
        request.expectedRevision = *options.revision == 2 ? REVISION_2_CODE : REVISION_1_CODE;
    }
    request.firmwareFolder = FirmwareFolder(options.firmwareDirectory);

    ConsoleHostSettings settings;
    settings.revisionAnswer = request.expectedRevision;
    settings.progressStyle = ChooseProgressStyle(options.quiet);
    SetUpConsoleHost(settings);

    ClearRunStop();
    CatchInterrupt();
    RunReport report;
    RunEnding ending = UpdateRun(request, report);
    // Ctrl-C at the prompt cancels the prompt; it was still an interruption.
    if (ending == RunEnding::Cancelled && RunStopRequested()) {
        ending = RunEnding::Interrupted;
    }
    CloseTesterLink();
    StopFrameTrace();
    Explain(ending, report, request);
    return AsInt(ExitCodeOf(ending));
}

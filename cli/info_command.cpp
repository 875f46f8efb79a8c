#include "cli/console.h"
#include "cli/console_run_host.h"
#include "cli/exit_codes.h"
#include "cli/flash_commands.h"
#include "cli/flash_texts.h"
#include "cli/platform.h"
#include "cli/text_encoding.h"
#include "update/run_ending.h"
#include "update/run_host.h"
#include "update/run_texts.h"
#include "update/tester_identity.h"

namespace {

int Fail(RunEnding ending) {
    ShowError(EndingMessage(ending));
    return AsInt(ExitCodeOf(ending));
}

}  // namespace

int ShowTesterInfo(const FlashOptions& options) {
    std::string serial;
    switch (FindAndOpenTester(options.serial, serial)) {
        case TesterSearchResult::TesterOpened:
            break;
        case TesterSearchResult::NoTester:
            return Fail(RunEnding::NoTester);
        case TesterSearchResult::SeveralTesters:
            return Fail(RunEnding::SeveralTesters);
        case TesterSearchResult::OpenFailed:
            WriteError(OpenFailedText(serial, OpenFailureReason()) + "\n");
            return AsInt(ExitCode::OpenFailed);
    }
    FrameBuffer frame;
    const TesterIdentity identity = QueryTesterIdentity(frame);
    CloseTesterLink();

    std::string revision = "unknown";
    std::string version = "unknown";
    switch (identity.answer) {
        case TesterIdentity::Answer::Identified:
            revision =
                std::to_string(UserRevision(RevisionFromHardwareCode(identity.hardwareCode))) +
                " (code " + std::to_string(identity.hardwareCode) + ")";
            version = Utf8FromUtf16(FirmwareVersionText(identity.firmwareTenths));
            break;
        case TesterIdentity::Answer::OtherLength:
            revision = "unknown (identify answered with " + std::to_string(identity.replyLength) +
                       " bytes, as a bootloader does)";
            break;
        case TesterIdentity::Answer::ProbeAnswered:
            revision = "1 (answers the revision-1 probe)";
            break;
        case TesterIdentity::Answer::Silent:
            return Fail(RunEnding::NoReply);
    }
    Write(Stream::Out, "serial: " + serial + "\n");
    Write(Stream::Out, "hardware revision: " + revision + "\n");
    Write(Stream::Out, "firmware version: " + version + "\n");
    return AsInt(ExitCode::Done);
}

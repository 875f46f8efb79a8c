#include "update/update_run.h"

#include "link/clock.h"
#include "link/tester_discovery.h"
#include "update/bootloader_transfer.h"
#include "update/firmware_image.h"
#include "update/run_host.h"
#include "update/run_stop.h"
#include "update/run_texts.h"
#include "update/tester_identity.h"

namespace {

Identification Revision(HardwareRevision revision, bool enterBootloader) {
    Identification result;
    result.revision = revision;
    result.enterBootloader = enterBootloader;
    return result;
}

Identification Ending(RunEnding ending) {
    Identification result;
    result.endsRun = true;
    result.ending = ending;
    return result;
}

// The tester answered but cannot tell its revision: the user reads it off the label.
Identification AskUserForRevision() {
    switch (AskRevision(RunTextOf(RunText::RevisionPromptCaption),
                        RunTextOf(RunText::RevisionPromptText))) {
        case PromptAnswer::Yes:
            return Revision(REVISION_1_CODE, false);
        case PromptAnswer::No:
            return Revision(REVISION_2_CODE, false);
        case PromptAnswer::Cancel:
        case PromptAnswer::None:
            break;
    }
    return Ending(RunEnding::Cancelled);
}

Identification Identify(FrameBuffer& frame, RunReport& report) {
    const TesterIdentity identity = QueryTesterIdentity(frame);
    switch (identity.answer) {
        case TesterIdentity::Answer::Identified:
            StatusLog(FirmwareVersionLine(identity.firmwareTenths));
            report.revisionReported = true;
            report.hardwareCode = identity.hardwareCode;
            return Revision(RevisionFromHardwareCode(identity.hardwareCode), true);
        case TesterIdentity::Answer::OtherLength:
            return AskUserForRevision();
        case TesterIdentity::Answer::ProbeAnswered:
            report.revisionReported = true;
            report.probeAnswered = true;
            return Revision(REVISION_1_CODE, true);
        case TesterIdentity::Answer::Silent:
            break;
    }
    return Ending(RunEnding::NoReply);
}

bool IsRevision2(HardwareRevision revision) {
    return revision == REVISION_2_CODE;
}

RunEnding RunPhases(FrameBuffer& frame, const RunRequest& request, RunReport& report) {
    switch (FindAndOpenTester(request.serial, report.serial)) {
        case TesterSearchResult::TesterOpened:
            break;
        case TesterSearchResult::NoTester:
            return RunEnding::NoTester;
        case TesterSearchResult::SeveralTesters:
            return RunEnding::SeveralTesters;
        case TesterSearchResult::OpenFailed:
            return RunEnding::OpenFailed;
    }
    if (RunStopRequested()) {
        return RunEnding::Interrupted;
    }
    const Identification identification = Identify(frame, report);
    if (identification.endsRun) {
        return identification.ending;
    }
    report.revisionSettled = true;
    report.revision = identification.revision;
    // The user's word against the tester's own: the wrong image must not go in, and nothing has
    // been changed on the tester yet.
    if (request.expectedRevision && report.revisionReported &&
        IsRevision2(*request.expectedRevision) != IsRevision2(identification.revision)) {
        return RunEnding::RevisionContradicts;
    }
    if (RunStopRequested()) {
        return RunEnding::Interrupted;
    }
    if (identification.enterBootloader) {
        report.bootloaderEntered = true;
        EnterBootloader(frame);
    }
    if (RunStopRequested()) {
        return RunEnding::Interrupted;
    }
    FirmwareImage image;
    switch (LoadFirmwareImage(identification.revision, image, request.firmwareFolder)) {
        case ImageLoadResult::Loaded:
            break;
        case ImageLoadResult::FileNotFound:
            return RunEnding::FirmwareNotFound;
        case ImageLoadResult::FileUnreadable:
            return RunEnding::FirmwareUnreadable;
        case ImageLoadResult::TooLongToNumber:
            return RunEnding::ProgrammingFailed;
    }
    return TransferImage(frame, image);
}

}  // namespace

Identification IdentifyTester(FrameBuffer& frame) {
    RunReport report;
    return Identify(frame, report);
}

void EnterBootloader(FrameBuffer& frame) {
    frame.bytes[0] = CMD_ENTER_BOOTLOADER;
    SendFrame(frame.bytes, 1);
    // Whatever the tester answers, or whether it answers at all, does not matter.
    ReceiveFrame(frame, BOOTLOADER_REPLY_TIMEOUT_MS);
    SleepMilliseconds(BOOTLOADER_START_PAUSE_MS);
}

void EndRun(RunEnding ending) {
    const std::u16string_view message = EndingMessage(ending);
    if (!message.empty()) {
        ShowError(message);
    }
    FreeFirmwareImage();
    EnableProgramButton(true);
}

RunEnding UpdateRun() {
    RunReport report;
    return UpdateRun(RunRequest{}, report);
}

RunEnding UpdateRun(const RunRequest& request, RunReport& report) {
    report = RunReport{};
    EnableProgramButton(false);
    FrameBuffer frame;
    const RunEnding ending = RunPhases(frame, request, report);
    EndRun(ending);
    return ending;
}

#include "update/update_run.h"

#include "link/clock.h"
#include "link/tester_discovery.h"
#include "update/bootloader_transfer.h"
#include "update/firmware_image.h"
#include "update/run_host.h"
#include "update/run_texts.h"
#include "update/tester_commands.h"

namespace {

// One identification command: send, give the firmware a moment, then wait for its reply.
bool AskTester(FrameBuffer& frame, std::uint8_t opcode) {
    frame.bytes[0] = opcode;
    SendFrame(frame.bytes, 1);
    SleepMilliseconds(IDENTIFY_PAUSE_MS);
    return ReceiveFrame(frame, IDENTIFY_REPLY_TIMEOUT_MS);
}

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

RunEnding RunPhases(FrameBuffer& frame) {
    switch (FindAndOpenTester()) {
        case TesterSearchResult::TesterOpened:
            break;
        case TesterSearchResult::NoTester:
            return RunEnding::NoTester;
        case TesterSearchResult::SeveralTesters:
            return RunEnding::SeveralTesters;
        case TesterSearchResult::OpenFailed:
            return RunEnding::OpenFailed;
    }
    const Identification identification = IdentifyTester(frame);
    if (identification.endsRun) {
        return identification.ending;
    }
    if (identification.enterBootloader) {
        EnterBootloader(frame);
    }
    FirmwareImage image;
    switch (LoadFirmwareImage(identification.revision, image)) {
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
    if (AskTester(frame, CMD_IDENTIFY)) {
        if (frame.ReplyLength() != IDENTIFY_REPLY_LENGTH) {
            return AskUserForRevision();
        }
        StatusLog(FirmwareVersionLine(frame.ReplyByte(2)));
        return Revision(RevisionFromHardwareCode(frame.ReplyByte(1)), true);
    }
    // Revision-1 firmware does not know the identify command but answers the probe.
    if (AskTester(frame, CMD_PROBE_REV1)) {
        return Revision(REVISION_1_CODE, true);
    }
    return Ending(RunEnding::NoReply);
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
    EnableProgramButton(false);
    FrameBuffer frame;
    const RunEnding ending = RunPhases(frame);
    EndRun(ending);
    return ending;
}

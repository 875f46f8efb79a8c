#include "update/tester_identity.h"

#include "link/clock.h"
#include "update/tester_commands.h"

namespace {

// One identification command: send, give the firmware a moment, then wait for its reply.
bool AskTester(FrameBuffer& frame, std::uint8_t opcode) {
    frame.bytes[0] = opcode;
    SendFrame(frame.bytes, 1);
    SleepMilliseconds(IDENTIFY_PAUSE_MS);
    return ReceiveFrame(frame, IDENTIFY_REPLY_TIMEOUT_MS);
}

}  // namespace

TesterIdentity QueryTesterIdentity(FrameBuffer& frame) {
    TesterIdentity identity;
    if (AskTester(frame, CMD_IDENTIFY)) {
        identity.replyLength = frame.ReplyLength();
        if (frame.ReplyLength() != IDENTIFY_REPLY_LENGTH) {
            identity.answer = TesterIdentity::Answer::OtherLength;
            return identity;
        }
        identity.answer = TesterIdentity::Answer::Identified;
        identity.hardwareCode = frame.ReplyByte(1);
        identity.firmwareTenths = frame.ReplyByte(2);
        return identity;
    }
    // Revision-1 firmware does not know the identify command but answers the probe.
    identity.answer = AskTester(frame, CMD_PROBE_REV1) ? TesterIdentity::Answer::ProbeAnswered
                                                       : TesterIdentity::Answer::Silent;
    return identity;
}

// Asking the tester's running firmware who it is: the identify command and, when that goes
// unanswered, the revision-1 probe, each with its pause and reply window. What the answers mean
// for a run is the run's business; this only reports them.
#pragma once

#include <cstdint>

#include "link/frame_codec.h"

struct TesterIdentity {
    enum class Answer {
        Identified,     // a 3-byte identify reply: hardware code and firmware version
        OtherLength,    // identify answered with another length, as a bootloader does
        ProbeAnswered,  // identify unanswered, the revision-1 probe answered
        Silent,         // neither answered
    };
    Answer answer = Answer::Silent;
    std::uint8_t hardwareCode = 0;
    std::uint8_t firmwareTenths = 0;
    // The payload length of the identify reply, for OtherLength.
    std::uint8_t replyLength = 0;
};

// Sends identify (and the probe when identify gets no reply) over the open link.
TesterIdentity QueryTesterIdentity(FrameBuffer& frame);

#include "link/frame_codec.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sim_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const Bytes& payload) {
    std::uint8_t out[TRANSMIT_BUFFER_SIZE];
    const std::size_t length = EncodeFrame(payload.data(), payload.size(), out);
    return Bytes(out, out + length);
}

struct EncodeCase {
    const char* name;
    Bytes payload;
    Bytes frame;
};

TEST(FrameEncoding, WorkedExamples) {
    const EncodeCase cases[] = {
        {"identify", {0x01}, {0x02, 0x01, 0x01, 0x01, 0x03}},
        {"enter bootloader", {0xFD}, {0x02, 0x01, 0xFD, 0xFD, 0x03}},
        {"readiness query", {0xFF, 0xFF, 0xFF}, {0x02, 0x03, 0xFF, 0xFF, 0xFF, 0xFD, 0x03}},
        {"empty payload", {}, {0x02, 0x00, 0x01, 0x03}},
        {"STX and ETX inside the payload are not escaped",
         {0x02, 0x03},
         {0x02, 0x02, 0x02, 0x03, 0x02, 0x03}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Encode(c.payload), c.frame) << c.name;
    }
}

TEST(FrameEncoding, OneBytePayloadIsItsOwnChecksum) {
    for (int value = 0; value < 256; ++value) {
        const Bytes frame = Encode({static_cast<std::uint8_t>(value)});
        EXPECT_EQ(frame[3], value);
    }
}

TEST(FrameEncoding, LongestRequestChecksumCoversEveryByte) {
    const Bytes payload = PatternBytes(MAX_REQUEST_PAYLOAD);
    const Bytes frame = Encode(payload);
    ASSERT_EQ(frame.size(), 255u);
    EXPECT_EQ(frame[1], 251);
    std::uint8_t all = 0;
    for (auto b : frame) {
        all ^= b;
    }
    EXPECT_EQ(all, 0);
    EXPECT_EQ(frame.back(), FRAME_ETX);
}

TEST(FrameEncoding, PayloadTooLongForTheTransmitBufferIsRefused) {
    EXPECT_TRUE(Encode(PatternBytes(MAX_REQUEST_PAYLOAD + 1)).empty());
}

class FrameExchangeTest : public SimFixture {
  protected:
    void SetUp() override {
        SimFixture::SetUp();
        SimScenario scenario;
        // The test plays the tester's side itself.
        scenario.devices = {{.serial = "ZVKD0001", .isTester = false}};
        scenario.timing.readOverrunNs = overrunNs;
        StartAndOpen(scenario);
        frame_.bytes[FRAME_BUFFER_SIZE - 1] = SENTINEL;
    }

    void Arrive(double atMs, const Bytes& bytes) {
        QueueForHost(SimLine(), bytes, static_cast<std::int64_t>(atMs * NS_PER_MS));
    }

    Bytes Received() const { return Bytes(frame_.bytes, frame_.bytes + frame_.ReplyLength() + 4); }

    static constexpr std::uint8_t SENTINEL = 0xEE;
    std::int64_t overrunNs = NS_PER_MS;
    FrameBuffer frame_;
};

TEST_F(FrameExchangeTest, SendFrameWritesOneWholeFrame) {
    const Bytes payload = {0xFE, 'Z', 'V', 'K', 'D', 0x08, 0x00, 0x00, 0x00};
    SendFrame(payload.data(), payload.size());
    const auto frames = SimWrittenFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], Encode(payload));
}

TEST_F(FrameExchangeTest, SendFrameWritesNothingForAnOversizedPayload) {
    const Bytes payload = PatternBytes(MAX_REQUEST_PAYLOAD + 1);
    SendFrame(payload.data(), payload.size());
    EXPECT_TRUE(SimWrittenFrames().empty());
}

struct ReceiveCase {
    const char* name;
    std::vector<std::pair<double, Bytes>> arrivals;  // (ms, bytes)
    std::uint32_t timeoutMs;
    bool expected;
    Bytes frame;  // expected frame when true
    double returnsAtMs;
};

void PrintTo(const ReceiveCase& c, std::ostream* os) {
    *os << c.name;
}

const Bytes REPLY = {0x02, 0x03, 0xFF, 0x01, 0x00, 0xFE, 0x03};

const ReceiveCase RECEIVE_CASES[] = {
    {"WholeFrame", {{5, REPLY}}, 1000, true, REPLY, 5},
    {"StrayBytesAheadAreDroppedWithoutPause",
     {{5, {0x55, 0x00, 0xFF}}, {5, REPLY}},
     1000,
     true,
     REPLY,
     5},
    {"AFalseStxSwallowsTheRealFramesStart",
     {{5, {0x02, 0x05}}, {5, REPLY}},
     1000,
     true,
     {0x02, 0x05, 0x02, 0x03, 0xFF, 0x01, 0x00, 0xFE, 0x03},
     5},
    {"WrongChecksumAndLastByteStillCount",
     {{5, {0x02, 0x01, 0x0A, 0x77, 0x99}}},
     1000,
     true,
     {0x02, 0x01, 0x0A, 0x77, 0x99},
     5},
    {"ABodyCutShortSwallowsWhatFollowsUntilTheReadGivesUp",
     {{5, {0x02, 0x09, 0x01}}, {300, REPLY}},
     1000,
     false,
     {},
     1006},
    {"ALengthByteCutShortPastTheDeadlineEndsTheCall", {{5, {0x55, 0x02}}}, 100, false, {}, 106},
    {"ABodyCutShortEndsTheCallJustAfterItsTimeout", {{5, {0x02, 0x09, 0x01}}}, 100, false, {}, 106},
    {"SilentLine", {}, 100, false, {}, 101},
    {"AByteHuntedAfterTheDeadlineEndsTheCallThoughAFrameFollows",
     {{90, {0x41}}, {100.5, {0x42}}, {100.6, REPLY}},
     100,
     false,
     {},
     100.5},
};

class ReceiveFrameTest : public FrameExchangeTest,
                         public testing::WithParamInterface<ReceiveCase> {};

TEST_P(ReceiveFrameTest, HuntsForTheReply) {
    const ReceiveCase& c = GetParam();
    for (const auto& [atMs, bytes] : c.arrivals) {
        Arrive(atMs, bytes);
    }
    EXPECT_EQ(ReceiveFrame(frame_, c.timeoutMs), c.expected);
    EXPECT_NEAR(NowMs(), c.returnsAtMs, 0.001);
    if (c.expected) {
        EXPECT_EQ(Received(), c.frame);
    }
}

INSTANTIATE_TEST_SUITE_P(Arrivals, ReceiveFrameTest, testing::ValuesIn(RECEIVE_CASES),
                         testing::PrintToStringParamName());

TEST_F(FrameExchangeTest, StrayBytesAreReadOneAtATime) {
    Arrive(5, {0x55, 0x00, 0xFF, 0x02, 0x01, 0x0A, 0x0A, 0x03});
    ASSERT_TRUE(ReceiveFrame(frame_, 1000));
    // Three stray bytes, STX, length, body: one read each.
    EXPECT_EQ(Calls("FT_Read").size(), 6u);
}

TEST_F(FrameExchangeTest, LongestReplyFillsTheBufferUpToByte258) {
    Bytes reply = {0x02, 0xFF};
    const Bytes payload = PatternBytes(255);
    reply.insert(reply.end(), payload.begin(), payload.end());
    reply.push_back(0x00);
    reply.push_back(0x03);
    Arrive(1, reply);
    ASSERT_TRUE(ReceiveFrame(frame_, 1000));
    EXPECT_EQ(Bytes(frame_.bytes, frame_.bytes + 259), reply);
    EXPECT_EQ(frame_.bytes[259], SENTINEL);
}

TEST_F(FrameExchangeTest, BytesPastTheFrameKeepWhatTheyHeld) {
    frame_.bytes[5] = 0x99;
    Arrive(1, {0x02, 0x00, 0x01, 0x03});
    ASSERT_TRUE(ReceiveFrame(frame_, 1000));
    EXPECT_EQ(frame_.bytes[4], 0x00);  // from the buffer's start value
    EXPECT_EQ(frame_.bytes[5], 0x99);
}

TEST_F(FrameExchangeTest, LateReplyIsKeptForTheNextCall) {
    const Bytes reply = {0x02, 0x01, 0x0A, 0x0A, 0x03};
    Arrive(1500, reply);
    EXPECT_FALSE(ReceiveFrame(frame_, 1000));
    EXPECT_TRUE(ReceiveFrame(frame_, 1000));
    EXPECT_EQ(Received(), reply);
}

TEST_F(FrameExchangeTest, GarbageStreamCannotHoldTheCallPastItsDeadline) {
    StartGarbage(SimLine(), 0);
    EXPECT_FALSE(ReceiveFrame(frame_, 1000));
    // One byte time past the deadline at most.
    EXPECT_GT(NowMs(), 1000.0);
    EXPECT_LT(NowMs(), 1000.1);
}

// The deadline test on the virtual clock, to the nanosecond: it counts whole microseconds,
// truncated, from a whole-seconds part and the rest, and a call ends only once that count is
// past the timeout. Timeouts of whole seconds check the seconds part of the count.
struct ExactTimeoutCase {
    const char* name;
    std::uint32_t timeoutMs;
    // How late a timed-out read returns.
    std::int64_t overrunNs;
};

void PrintTo(const ExactTimeoutCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr std::int64_t PAUSE_NS = EMPTY_READ_PAUSE_MS * NS_PER_MS;

class ExactTimeoutTest : public FrameExchangeTest,
                         public testing::WithParamInterface<ExactTimeoutCase> {
  protected:
    void SetUp() override {
        overrunNs = GetParam().overrunNs;
        FrameExchangeTest::SetUp();
    }

    // How long one read on a silent line lasts: its timeout, then the overrun.
    static std::int64_t ReadNs() { return GetParam().timeoutMs * NS_PER_MS + GetParam().overrunNs; }
};

// Calls whose first empty read comes back within the count: elapsed equal to the timeout is not
// past it ('>', not '>='), and 999 ns past is no whole microsecond past.
const ExactTimeoutCase WITHIN_THE_COUNT[] = {
    // Back at the timeout exactly.
    {"Timeout100msReadBackAtTheTimeout", 100, 0},
    {"Timeout1000msReadBackAtTheTimeout", 1000, 0},
    {"Timeout2000msReadBackAtTheTimeout", 2000, 0},
    // Back 999 ns after it.
    {"Timeout1000msRead999nsLate", 1000, 999},
    {"Timeout2000msRead999nsLate", 2000, 999},
};

class WithinTheCountTest : public ExactTimeoutTest {};

// The pause and a second read follow the first.
TEST_P(WithinTheCountTest, SilentLineEndsTheCallAfterTwoReads) {
    EXPECT_FALSE(ReceiveFrame(frame_, GetParam().timeoutMs));
    EXPECT_EQ(SimNow(), ReadNs() + PAUSE_NS + ReadNs());
}

TEST_P(WithinTheCountTest, AReplyDuringTheSecondReadIsStillTaken) {
    const std::int64_t secondReadNs = ReadNs() + PAUSE_NS;
    const std::int64_t replyNs = secondReadNs + GetParam().timeoutMs * NS_PER_MS / 2;
    QueueForHost(SimLine(), {0x02, 0x00, 0x01, 0x03}, replyNs);
    EXPECT_TRUE(ReceiveFrame(frame_, GetParam().timeoutMs));
    EXPECT_EQ(SimNow(), replyNs);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, WithinTheCountTest, testing::ValuesIn(WITHIN_THE_COUNT),
                         testing::PrintToStringParamName());

// One microsecond past ends the call at once.
const ExactTimeoutCase PAST_THE_COUNT[] = {
    {"Timeout100msRead1usLate", 100, 1000},
    {"Timeout1000msRead1usLate", 1000, 1000},
    {"Timeout2000msRead1usLate", 2000, 1000},
};

class PastTheCountTest : public ExactTimeoutTest {};

TEST_P(PastTheCountTest, SilentLineEndsTheCallAfterOneRead) {
    EXPECT_FALSE(ReceiveFrame(frame_, GetParam().timeoutMs));
    EXPECT_EQ(SimNow(), ReadNs());
}

INSTANTIATE_TEST_SUITE_P(Timeouts, PastTheCountTest, testing::ValuesIn(PAST_THE_COUNT),
                         testing::PrintToStringParamName());

// The longest call ReceiveFrameLongestNs allows, played out: a first empty read that comes back
// within the count, the pause, then STX and the length byte each at the very end of their
// reads, and a body that never comes. The bound must hold, and it is tight to within the
// microsecond the deadline test may not see.
const ExactTimeoutCase LONGEST_CALL_CASES[] = {
    {"Timeout100msReadBackAtTheTimeout", 100, 0},
    {"Timeout1000msRead999nsLate", 1000, 999},
    {"Timeout2000msRead500nsLate", 2000, 500},
};

class LongestCallTest : public ExactTimeoutTest {};

TEST_P(LongestCallTest, LastsNoLongerThanTheStatedBoundAndNearlyThatLong) {
    const ExactTimeoutCase& c = GetParam();
    const std::int64_t stxAt = ReadNs() + PAUSE_NS + ReadNs();
    QueueForHost(SimLine(), {FRAME_STX}, stxAt);
    QueueForHost(SimLine(), {0x05}, stxAt + ReadNs());

    EXPECT_FALSE(ReceiveFrame(frame_, c.timeoutMs));

    const std::int64_t bound = ReceiveFrameLongestNs(c.timeoutMs, c.overrunNs);
    EXPECT_EQ(SimNow(), stxAt + 2 * ReadNs());
    EXPECT_LE(SimNow(), bound);
    EXPECT_GE(SimNow(), bound - 1000);
    EXPECT_EQ(Calls("FT_Read").size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, LongestCallTest, testing::ValuesIn(LONGEST_CALL_CASES),
                         testing::PrintToStringParamName());

}  // namespace

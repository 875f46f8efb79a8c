#include "link/frame_codec.h"

#include <gtest/gtest.h>

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
        scenario.devices[0].isTester = false;  // the test plays the tester's side itself
        scenario.timing.readOverrunNs = overrunNs;
        StartAndOpen(scenario);
        frame_.bytes[FRAME_BUFFER_SIZE - 1] = SENTINEL;
    }

    void Arrive(double atMs, const Bytes& bytes) {
        QueueForHost(SimLine(), bytes, static_cast<std::int64_t>(atMs * NS_PER_MS));
    }

    Bytes Received() const { return Bytes(frame_.bytes, frame_.bytes + frame_.ReplyLength() + 4); }

    int ReadCalls() const {
        int count = 0;
        for (const auto& call : SimCallLog()) {
            count += call.function == "FT_Read" ? 1 : 0;
        }
        return count;
    }

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

TEST_F(FrameExchangeTest, HuntsForTheReply) {
    const Bytes reply = {0x02, 0x03, 0xFF, 0x01, 0x00, 0xFE, 0x03};
    const ReceiveCase cases[] = {
        {"whole frame", {{5, reply}}, 1000, true, reply, 5},
        {"stray bytes ahead are dropped without pause",
         {{5, {0x55, 0x00, 0xFF}}, {5, reply}},
         1000,
         true,
         reply,
         5},
        {"a false STX swallows the real frame's start",
         {{5, {0x02, 0x05}}, {5, reply}},
         1000,
         true,
         {0x02, 0x05, 0x02, 0x03, 0xFF, 0x01, 0x00, 0xFE, 0x03},
         5},
        {"wrong checksum and last byte still count",
         {{5, {0x02, 0x01, 0x0A, 0x77, 0x99}}},
         1000,
         true,
         {0x02, 0x01, 0x0A, 0x77, 0x99},
         5},
        {"a body cut short swallows what follows until the read gives up",
         {{5, {0x02, 0x09, 0x01}}, {300, reply}},
         1000,
         false,
         {},
         1006},
        {"a length byte cut short past the deadline ends the call",
         {{5, {0x55, 0x02}}},
         100,
         false,
         {},
         106},
        {"a body cut short ends the call just after its timeout",
         {{5, {0x02, 0x09, 0x01}}},
         100,
         false,
         {},
         106},
        {"silent line", {}, 100, false, {}, 101},
        {"a byte hunted after the deadline ends the call though a frame follows",
         {{90, {0x41}}, {100.5, {0x42}}, {100.6, reply}},
         100,
         false,
         {},
         100.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        for (const auto& [atMs, bytes] : c.arrivals) {
            Arrive(atMs, bytes);
        }
        EXPECT_EQ(ReceiveFrame(frame_, c.timeoutMs), c.expected);
        EXPECT_NEAR(NowMs(), c.returnsAtMs, 0.001);
        if (c.expected) {
            EXPECT_EQ(Received(), c.frame);
        }
    }
}

TEST_F(FrameExchangeTest, StrayBytesAreReadOneAtATime) {
    Arrive(5, {0x55, 0x00, 0xFF, 0x02, 0x01, 0x0A, 0x0A, 0x03});
    ASSERT_TRUE(ReceiveFrame(frame_, 1000));
    // Three stray bytes, STX, length, body: one read each.
    EXPECT_EQ(ReadCalls(), 6);
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

class ExactTimeoutTest : public FrameExchangeTest {
  protected:
    void SetUp() override {
        overrunNs = 0;
        FrameExchangeTest::SetUp();
    }
};

TEST_F(ExactTimeoutTest, ElapsedEqualToTheTimeoutDoesNotEndTheCall) {
    // The first empty read returns exactly at the timeout, which is not past it: one more pause
    // and read follow, so a silent line takes twice the timeout plus the pause.
    EXPECT_FALSE(ReceiveFrame(frame_, 100));
    EXPECT_NEAR(NowMs(), 210, 0.001);
}

TEST_F(ExactTimeoutTest, AReplyDuringTheSecondReadIsStillTaken) {
    Arrive(150, {0x02, 0x00, 0x01, 0x03});
    EXPECT_TRUE(ReceiveFrame(frame_, 100));
    EXPECT_NEAR(NowMs(), 150, 0.001);
}

}  // namespace

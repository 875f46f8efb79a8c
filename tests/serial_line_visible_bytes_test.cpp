// The serial line as a peer that serves it in real time sees it (sim/pty): which reply bytes have
// reached the PC by a given moment, and when the next one does, on the virtual clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

#include "sim/serial_line.h"
#include "tests/support/sim_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t IDENTIFY = 0x01;
constexpr std::uint8_t PROBE = 0x0A;

// The PC's side of one line and tester of its own, reset from a scenario; times are read from
// the virtual clock, which only the test moves.
class VisibleBytes : public SimFixture {
  protected:
    void Start(const SimScenario& scenario) {
        ResetTesterAndLine(scenario, tester_, line_);
        byteNs_ = line_.timing.ByteNs();
        answerNs_ = tester_.behaviour.answerNs;
        latencyNs_ = line_.timing.latencyNs;
    }

    // The PC writes the request for `payload` now; returns when its last byte reaches the tester.
    std::int64_t Request(const Bytes& payload) {
        const Bytes frame = FrameOf(payload);
        WriteLine(line_, &tester_, frame.data(), static_cast<std::uint32_t>(frame.size()),
                  SimNow());
        return SimNow() + static_cast<std::int64_t>(frame.size()) * byteNs_;
    }

    // Moves the clock to `time` and takes up to `limit` of the bytes that have reached the PC.
    Bytes TakeAt(std::int64_t time, std::uint32_t limit = 4096) {
        SimWaitUntil(time);
        Bytes bytes(limit);
        bytes.resize(TakeVisibleBytes(line_, SimNow(), bytes.data(), limit));
        return bytes;
    }

    TesterModel tester_;
    SerialLine line_;
    std::int64_t byteNs_ = 0;
    std::int64_t answerNs_ = 0;
    std::int64_t latencyNs_ = 0;
};

// Fewer bytes than a packet wait in the chip until its latency timer, started by the first of
// them, runs out; then they reach the PC together.
TEST_F(VisibleBytes, AShortReplyIsVisibleWholeAtTheChipsLatencyFlush) {
    Start(SimScenario{});
    SimWaitUntil(3 * NS_PER_MS);
    const std::int64_t heard = Request({IDENTIFY});
    const std::int64_t flush = heard + answerNs_ + byteNs_ + latencyNs_;
    // 3 ms, five request bytes of 86805 ns at 115200 baud, the 1 ms answer, the reply's first
    // byte, and the 16 ms latency timer.
    ASSERT_EQ(flush, 20'520'830);
    ASSERT_EQ(NextVisibleTime(line_), flush);
    EXPECT_TRUE(TakeAt(flush - 1).empty());
    EXPECT_EQ(NextVisibleTime(line_), flush);
    EXPECT_EQ(TakeAt(flush), FrameOf({IDENTIFY, tester_.behaviour.hardwareCode,
                                      tester_.behaviour.firmwareTenths}));
    EXPECT_EQ(NextVisibleTime(line_), std::nullopt);
}

TEST_F(VisibleBytes, ATakeStopsAtItsLimitAndLeavesTheRestVisible) {
    Start(SimScenario{});
    const std::int64_t heard = Request({IDENTIFY});
    const std::int64_t flush = heard + answerNs_ + byteNs_ + latencyNs_;
    const Bytes reply =
        FrameOf({IDENTIFY, tester_.behaviour.hardwareCode, tester_.behaviour.firmwareTenths});
    EXPECT_EQ(TakeAt(flush, 3), Bytes(reply.begin(), reply.begin() + 3));
    EXPECT_EQ(NextVisibleTime(line_), flush);
    EXPECT_EQ(TakeAt(flush), Bytes(reply.begin() + 3, reply.end()));
}

struct LongReplyCase {
    const char* label;
    std::size_t frameBytes;
    // When the bytes after the first packet become visible, counted from the arrival of the
    // packet's last byte; none when there are none.
    std::optional<std::int64_t> restAfterNs;
};

// Named by the label in test output, not dumped as bytes.
void PrintTo(const LongReplyCase& c, std::ostream* os) {
    *os << c.label;
}

constexpr std::size_t CHIP_PACKET_BYTES = 62;
// Ten bits at 115200 baud, in whole nanoseconds.
constexpr std::int64_t BYTE_NS = 86'805;
constexpr std::int64_t LATENCY_NS = 16'000'000;

const LongReplyCase LONG_REPLY_CASES[] = {
    {"ExactlyOnePacket", 62, std::nullopt},
    // The rest starts a packet of its own, held for the latency timer from its first byte.
    {"OnePacketAndEightBytes", 70, BYTE_NS + LATENCY_NS},
    // A second full packet goes as soon as its last byte is in.
    {"TwoPackets", 124, 62 * BYTE_NS},
};

class LongReplies : public VisibleBytes, public ::testing::WithParamInterface<LongReplyCase> {};

// A full packet leaves the chip at once, without waiting for the latency timer.
TEST_P(LongReplies, TheFirstPacketIsVisibleAtTheArrivalOfItsLastByte) {
    SimScenario scenario;
    scenario.tester.probeReply = PatternBytes(GetParam().frameBytes - TESTER_FRAME_OVERHEAD);
    Start(scenario);
    ASSERT_EQ(byteNs_, BYTE_NS);
    ASSERT_EQ(latencyNs_, LATENCY_NS);
    ASSERT_EQ(line_.timing.chipPacketBytes, CHIP_PACKET_BYTES);
    const Bytes reply = FrameOf(scenario.tester.probeReply);
    ASSERT_EQ(reply.size(), GetParam().frameBytes);
    const std::int64_t heard = Request({PROBE});

    const std::int64_t packetIn = heard + answerNs_ + CHIP_PACKET_BYTES * BYTE_NS;
    ASSERT_EQ(NextVisibleTime(line_), packetIn);
    EXPECT_TRUE(TakeAt(packetIn - 1).empty());
    EXPECT_EQ(TakeAt(packetIn), Bytes(reply.begin(), reply.begin() + CHIP_PACKET_BYTES));

    if (!GetParam().restAfterNs) {
        EXPECT_EQ(NextVisibleTime(line_), std::nullopt);
        return;
    }
    const std::int64_t restVisible = packetIn + *GetParam().restAfterNs;
    ASSERT_EQ(NextVisibleTime(line_), restVisible);
    EXPECT_TRUE(TakeAt(restVisible - 1).empty());
    EXPECT_EQ(TakeAt(restVisible), Bytes(reply.begin() + CHIP_PACKET_BYTES, reply.end()));
    EXPECT_EQ(NextVisibleTime(line_), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongReplies, ::testing::ValuesIn(LONG_REPLY_CASES),
                         ::testing::PrintToStringParamName());

// The babbling tester starts when its answer would have been ready; from then on one byte
// reaches the PC every byte time, however the PC takes them.
TEST_F(VisibleBytes, TheGarbageStreamDeliversOneByteEveryByteTime) {
    SimScenario scenario;
    AddFault(scenario, 0, FaultKind::GarbageStream);
    Start(scenario);
    const std::int64_t heard = Request({IDENTIFY});
    const std::int64_t first = heard + answerNs_ + byteNs_;
    for (std::int64_t n = 0; n < 3; ++n) {
        const std::int64_t due = first + n * byteNs_;
        ASSERT_EQ(NextVisibleTime(line_), due) << "byte " << n;
        EXPECT_TRUE(TakeAt(due - 1).empty()) << "byte " << n;
        const Bytes taken = TakeAt(due);
        ASSERT_EQ(taken.size(), 1u) << "byte " << n;
        EXPECT_NE(taken[0], TESTER_STX) << "byte " << n;
    }
    // Left where they are, they pile up: ten byte times bring ten more.
    EXPECT_EQ(TakeAt(first + 12 * byteNs_).size(), 10u);
    EXPECT_EQ(NextVisibleTime(line_), first + 13 * byteNs_);
}

}  // namespace

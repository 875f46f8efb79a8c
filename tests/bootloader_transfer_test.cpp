#include "update/bootloader_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sim_fixture.h"
#include "update/tester_commands.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class BootloaderTransferTest : public SimFixture {
  protected:
    // Request 0 is the start command, 1 the readiness query, 2 + b block b (without resends).
    static constexpr std::uint32_t START = 0;
    static constexpr std::uint32_t QUERY = 1;
    static constexpr std::uint32_t BLOCK0 = 2;

    void SetUp() override {
        SimFixture::SetUp();
        scenario_.tester.startsInBootloader = true;
    }

    void FaultRange(std::uint32_t first, int count, FaultKind kind) {
        for (int i = 0; i < count; ++i) {
            AddFault(scenario_, first + static_cast<std::uint32_t>(i), kind);
        }
    }

    RunEnding Transfer(std::size_t fileLength) {
        buffer_ = PatternBytes(fileLength);
        buffer_.resize(fileLength + 5);
        image_.bytes = buffer_.data();
        image_.totalLength =
            CompleteFirmwareImage(buffer_.data(), static_cast<std::uint32_t>(fileLength));
        StartAndOpen(scenario_);
        FrameBuffer frame;
        return TransferImage(frame, image_);
    }

    Bytes Image() const { return Bytes(buffer_.begin(), buffer_.begin() + image_.totalLength); }

    // Says, when not, what the tester holds instead.
    testing::AssertionResult TesterHoldsTheImage() const {
        const ProgrammedImage& held = SimTester().image;
        if (held.complete && held.crcGood && held.received == Image()) {
            return testing::AssertionSuccess();
        }
        return testing::AssertionFailure()
               << "the tester holds " << DescribeVerdict(SimTester())
               << (held.received == Image() ? "" : ", not the bytes sent") << "; the image is "
               << image_.totalLength << " bytes";
    }

    // Block numbers of the data requests, in the order sent.
    static std::vector<int> BlocksSent() {
        std::vector<int> blocks;
        for (const auto& p : SentPayloads()) {
            if (p[0] == CMD_BLOCK && p.size() > 3) {
                blocks.push_back(p[1] | (p[2] << 8));
            }
        }
        return blocks;
    }

    SimScenario scenario_;
    Bytes buffer_;
    FirmwareImage image_;
};

TEST_F(BootloaderTransferTest, AnnouncesQueriesAndSendsNumberedBlocks) {
    ASSERT_EQ(Transfer(380), RunEnding::ProgrammingComplete);
    const auto payloads = SentPayloads();
    ASSERT_EQ(payloads.size(), 4u);
    EXPECT_EQ(payloads[0], Bytes({0xFE, 'Z', 'V', 'K', 'D', 0x80, 0x01, 0x00, 0x00}));
    EXPECT_EQ(payloads[1], Bytes({0xFF, 0xFF, 0xFF}));
    Bytes block1 = {0xFF, 0x01, 0x00};
    block1.insert(block1.end(), buffer_.begin() + 192, buffer_.begin() + 384);
    EXPECT_EQ(payloads[3], block1);
    EXPECT_TRUE(TesterHoldsTheImage());
    EXPECT_EQ(HostTexts(HostEvent::Kind::Line),
              std::vector<std::u16string>(
                  {u"Burning in Progress.\n Do not unplug.\n", u"Programming complete.\n"}));
}

struct BlockCutCase {
    const char* name;
    std::size_t fileLength;
    std::vector<std::size_t> blockSizes;
};

void PrintTo(const BlockCutCase& c, std::ostream* os) {
    *os << c.name;
}

const BlockCutCase BLOCK_CUT_CASES[] = {
    {"EmptyFileItsCrcAlone", 0, {4}},
    {"ExactlyOneFullBlock", 188, {192}},
    {"AFullBlockAndATwoByteOne", 190, {192, 2}},
    {"TwoFullBlocksNoEmptyThird", 380, {192, 192}},
    {"FiveFullBlocksAndAShortSixth", 1001, {192, 192, 192, 192, 192, 46}},
};

class BlockCutTest : public BootloaderTransferTest,
                     public testing::WithParamInterface<BlockCutCase> {};

TEST_P(BlockCutTest, CutsTheImageIntoBlocksOf192WithAShortLastBlock) {
    const BlockCutCase& c = GetParam();
    ASSERT_EQ(Transfer(c.fileLength), RunEnding::ProgrammingComplete);
    std::vector<std::size_t> sizes;
    for (const auto& p : SentPayloads()) {
        if (p[0] == CMD_BLOCK && p.size() > 3) {
            sizes.push_back(p.size() - 3);
        }
    }
    EXPECT_EQ(sizes, c.blockSizes);
    EXPECT_TRUE(TesterHoldsTheImage());
}

INSTANTIATE_TEST_SUITE_P(FileLengths, BlockCutTest, testing::ValuesIn(BLOCK_CUT_CASES),
                         testing::PrintToStringParamName());

TEST_F(BootloaderTransferTest, EmptyFileGoesOutAsOneSevenByteBlock) {
    ASSERT_EQ(Transfer(0), RunEnding::ProgrammingComplete);
    EXPECT_EQ(SentPayloads().back(), Bytes({0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

struct RetryCase {
    const char* name;
    std::vector<std::pair<std::uint32_t, FaultKind>> faults;
    RunEnding expected;
    int startSends;
    int querySends;
};

void PrintTo(const RetryCase& c, std::ostream* os) {
    *os << c.name;
}

const RetryCase RETRY_CASES[] = {
    {"StartAnsweredAtTheThirdSend",
     {{0, FaultKind::DropReply}, {1, FaultKind::DropReply}},
     RunEnding::ProgrammingComplete,
     3,
     1},
    {"StartNeverAnswered",
     {{0, FaultKind::DropReply}, {1, FaultKind::DropReply}, {2, FaultKind::DropReply}},
     RunEnding::ProgrammingFailed,
     3,
     0},
    {"StartAnsweredWithAnotherOpcode",
     {{0, FaultKind::WrongOpcode}},
     RunEnding::ProgrammingComplete,
     2,
     1},
    {"StartAnsweredWithoutPayload",
     {{0, FaultKind::EmptyReply}},
     RunEnding::ProgrammingComplete,
     2,
     1},
    {"ReadinessAnsweredAtTheThirdQuery",
     {{1, FaultKind::DropReply}, {2, FaultKind::DropReply}},
     RunEnding::ProgrammingComplete,
     1,
     3},
    {"ReadinessNeverAnswered",
     {{1, FaultKind::DropReply}, {2, FaultKind::DropReply}, {3, FaultKind::DropReply}},
     RunEnding::ProgrammingFailed,
     1,
     3},
    {"ReadinessReplyTooShortCountsAsNone",
     {{1, FaultKind::EmptyReply}, {2, FaultKind::CutReply}},
     RunEnding::ProgrammingComplete,
     1,
     3},
    {"ReadinessStatus256IsNotReadyAndNotAskedAgain",
     {{1, FaultKind::NotReadyStatus}},
     RunEnding::TesterNotReady,
     1,
     1},
};

class RetryLimitTest : public BootloaderTransferTest,
                       public testing::WithParamInterface<RetryCase> {};

TEST_P(RetryLimitTest, StartAndReadinessAreRetriedUpToTheirLimits) {
    const RetryCase& c = GetParam();
    for (const auto& [request, kind] : c.faults) {
        AddFault(scenario_, request, kind);
    }
    EXPECT_EQ(Transfer(500), c.expected);
    EXPECT_EQ(SentCount(CMD_START_PROGRAMMING), c.startSends);
    const auto payloads = SentPayloads();
    EXPECT_EQ(std::count(payloads.begin(), payloads.end(), Bytes({0xFF, 0xFF, 0xFF})),
              c.querySends);
    if (c.expected == RunEnding::ProgrammingComplete) {
        EXPECT_TRUE(TesterHoldsTheImage());
    } else {
        EXPECT_FALSE(TesterHoldsTheImage());
        EXPECT_TRUE(BlocksSent().empty()) << "no block after a failed start or query";
        EXPECT_EQ(HostTexts(HostEvent::Kind::Line).size(), 1u) << "only the burning line";
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, RetryLimitTest, testing::ValuesIn(RETRY_CASES),
                         testing::PrintToStringParamName());

TEST_F(BootloaderTransferTest, ABlockHasFourSendsAndTheNextBlockFourAgain) {
    // Block 1 is acknowledged only at its fourth send; block 2 likewise.
    FaultRange(BLOCK0 + 1, 3, FaultKind::DropReply);
    FaultRange(BLOCK0 + 1 + 4, 3, FaultKind::DropReply);
    EXPECT_EQ(Transfer(1000), RunEnding::ProgrammingComplete);
    EXPECT_EQ(BlocksSent(), std::vector<int>({0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 4, 5}));
    EXPECT_TRUE(TesterHoldsTheImage());
}

TEST_F(BootloaderTransferTest, AFourthFailedSendEndsTheTransferWithNoFifth) {
    FaultRange(BLOCK0 + 1, 4, FaultKind::DropReply);
    EXPECT_EQ(Transfer(1000), RunEnding::ProgrammingFailed);
    EXPECT_EQ(BlocksSent(), std::vector<int>({0, 1, 1, 1, 1}));
    EXPECT_EQ(HostTexts(HostEvent::Kind::Line).size(), 1u);
}

TEST_F(BootloaderTransferTest, AnAcknowledgementWithAnotherNumberIsASendThatFailed) {
    AddFault(scenario_, BLOCK0 + 1, FaultKind::PreviousBlockNumber);
    AddFault(scenario_, BLOCK0 + 2, FaultKind::EmptyReply);
    AddFault(scenario_, BLOCK0 + 3, FaultKind::CutReply);
    EXPECT_EQ(Transfer(1000), RunEnding::ProgrammingComplete);
    EXPECT_EQ(BlocksSent(), std::vector<int>({0, 1, 1, 1, 1, 2, 3, 4, 5}));
    // Every resend carries the same number and data.
    const auto payloads = SentPayloads();
    for (std::size_t i = BLOCK0 + 2; i <= BLOCK0 + 4; ++i) {
        EXPECT_EQ(payloads[i], payloads[BLOCK0 + 1]);
    }
    EXPECT_TRUE(TesterHoldsTheImage());
}

TEST_F(BootloaderTransferTest, ALateAcknowledgementAcknowledgesTheResend) {
    // Block 1's acknowledgement comes after its wait and is taken as the resend's. From then on
    // every reply read is the one to the send before, so each block goes out twice.
    AddFault(scenario_, BLOCK0 + 1, FaultKind::LateReply, 1100 * NS_PER_MS);
    EXPECT_EQ(Transfer(1000), RunEnding::ProgrammingComplete);
    EXPECT_EQ(BlocksSent(), std::vector<int>({0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5}));
    EXPECT_TRUE(TesterHoldsTheImage());
}

TEST_F(BootloaderTransferTest, AStaleReadinessReplyIsNeverTakenForBlockZerosAcknowledgement) {
    // The late start reply puts every reply one send behind, so the second readiness reply is
    // still on its way when block 0 goes out, and it reads exactly like block 0's
    // acknowledgement. Block 0 itself is lost: the one-block image must be sent again, not
    // reported complete.
    AddFault(scenario_, START, FaultKind::LateReply, 2500 * NS_PER_MS);
    AddFault(scenario_, BLOCK0 + 2, FaultKind::CorruptRequest);
    EXPECT_EQ(Transfer(100), RunEnding::ProgrammingComplete);
    EXPECT_EQ(BlocksSent(), std::vector<int>({0, 0}));
    EXPECT_TRUE(TesterHoldsTheImage());
}

TEST_F(BootloaderTransferTest, BlockNumbersAreSixteenBitLittleEndian) {
    scenario_.keepCallLog = true;
    ASSERT_EQ(Transfer(300 * 192), RunEnding::ProgrammingComplete);
    const auto payloads = SentPayloads();
    const Bytes& block258 = payloads[BLOCK0 + 258];
    EXPECT_EQ(block258[1], 0x02);
    EXPECT_EQ(block258[2], 0x01);
}

TEST_F(BootloaderTransferTest, AnImageTooLongToNumberSendsNothing) {
    StartAndOpen(scenario_);
    Bytes small(16);
    FirmwareImage tooLong{small.data(), 12582722};  // 65,535 blocks and 2 bytes
    FrameBuffer frame;
    EXPECT_EQ(TransferImage(frame, tooLong), RunEnding::ProgrammingFailed);
    EXPECT_TRUE(SimWrittenFrames().empty());
    EXPECT_TRUE(HostTexts(HostEvent::Kind::Line).empty());
}

TEST_F(BootloaderTransferTest, TheLongestNumberableImageIsSentWhole) {
    scenario_.keepCallLog = false;
    ASSERT_EQ(Transfer(12582716), RunEnding::ProgrammingComplete);
    EXPECT_EQ(SimTester().image.received.size(), 12582720u);  // 65,535 blocks of 192
    EXPECT_TRUE(TesterHoldsTheImage());
}

}  // namespace

// What a front end other than the window asks of the core: a tester picked by its serial number,
// the revision the user vouches for, firmware from a named folder, a stop between exchanges,
// progress, a window on the frames, and identification without a run.
#include "update/update_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/frame_trace.h"
#include "tests/support/run_fixture.h"
#include "update/run_stop.h"
#include "update/run_texts.h"
#include "update/tester_commands.h"
#include "update/tester_identity.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// 2004 bytes of image: 11 blocks.
constexpr std::uint32_t REVISION_2_BLOCKS = 11;

// Asks for a stop while the n-th frame of the run is being written, so that the exchange it
// starts is the one in progress.
std::uint32_t stopAtWrite = 0;
std::uint32_t writesSeen = 0;
void StopAtWrite(const SimCall& call) {
    if (call.function == "FT_Write" && writesSeen++ == stopAtWrite) {
        RequestRunStop();
    }
}

class RunRequestTest : public RunFixture {
  protected:
    // A run of the scenario that is asked to stop while it writes its frame number `write`
    // (numbered as the exchanges, tests/support/test_world.h).
    RunEnding RunStoppedAtWrite(std::uint32_t write) {
        stopAtWrite = write;
        writesSeen = 0;
        StartScenario(scenario_);
        ObserveSimCalls(StopAtWrite);
        const RunEnding ending = UpdateRun(RunRequest{}, report_);
        ObserveSimCalls(nullptr);
        return ending;
    }
};

SimScenario WithDevices(std::vector<SimDevice> devices) {
    SimScenario scenario;
    scenario.devices = std::move(devices);
    return scenario;
}

// --- the tester picked by its serial number ---

struct SerialCase {
    const char* name;
    std::vector<SimDevice> devices;
    std::string wanted;
    TesterSearchResult result;
    std::string found;
};

void PrintTo(const SerialCase& c, std::ostream* os) {
    *os << c.name;
}

class TesterBySerialTest : public RunRequestTest,
                           public ::testing::WithParamInterface<SerialCase> {};

TEST_P(TesterBySerialTest, OpensOnlyTheTesterNamed) {
    const SerialCase& c = GetParam();
    StartScenario(WithDevices(c.devices));
    std::string found = "left over";
    EXPECT_EQ(FindAndOpenTester(c.wanted, found), c.result);
    EXPECT_EQ(found, c.found);
    if (c.result != TesterSearchResult::OpenFailed) {
        const bool opened = c.result == TesterSearchResult::TesterOpened;
        EXPECT_EQ(OpenedSerials(),
                  opened ? std::vector<std::string>{c.found} : std::vector<std::string>{});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TesterBySerialTest,
    ::testing::Values(
        SerialCase{"OneAmongSeveral",
                   {{.serial = "ZVKD0001"}, {.serial = "FT9"}, {.serial = "ZVKD0002"}},
                   "ZVKD0002",
                   TesterSearchResult::TesterOpened,
                   "ZVKD0002"},
        SerialCase{
            "NotAttached", {{.serial = "ZVKD0001"}}, "ZVKD0009", TesterSearchResult::NoTester, ""},
        SerialCase{"APrefixIsNoFullSerial",
                   {{.serial = "ZVKD0001"}},
                   "ZVKD",
                   TesterSearchResult::NoTester,
                   ""},
        SerialCase{"AnotherDeviceIsNoTester",
                   {{.serial = "FT9", .isTester = false}},
                   "FT9",
                   TesterSearchResult::NoTester,
                   ""},
        SerialCase{"TheSameSerialTwice",
                   {{.serial = "ZVKD0001"}, {.serial = "ZVKD0001"}},
                   "ZVKD0001",
                   TesterSearchResult::SeveralTesters,
                   ""},
        SerialCase{"OpenRefused",
                   {{.serial = "ZVKD0001", .openFails = true}},
                   "ZVKD0001",
                   TesterSearchResult::OpenFailed,
                   "ZVKD0001"}),
    ::testing::PrintToStringParamName());

TEST_F(RunRequestTest, ListsEveryTesterWithItsPositionAndOpensNothing) {
    StartScenario(WithDevices({{.serial = "FT1"},
                               {.serial = "ZVKD0001"},
                               {.serial = "zvkd0002"},
                               {.serial = "ZVKD0003"}}));
    const std::vector<AttachedTester> testers = ListAttachedTesters();
    ASSERT_EQ(testers.size(), 2u);
    EXPECT_EQ(testers[0].index, 1u);
    EXPECT_EQ(testers[0].serial, "ZVKD0001");
    EXPECT_EQ(testers[1].index, 3u);
    EXPECT_EQ(testers[1].serial, "ZVKD0003");
    EXPECT_TRUE(OpenedSerials().empty());
}

TEST_F(RunRequestTest, ARunForANamedTesterProgramsItBesideAnother) {
    scenario_.devices = {{.serial = "ZVKD0001"}, {.serial = "ZVKD0002"}};
    RunRequest request;
    request.serial = "ZVKD0002";
    EXPECT_EQ(Run(request), RunEnding::ProgrammingComplete);
    EXPECT_EQ(ProgrammedFileLength(), REVISION_2_FILE_LENGTH);
    EXPECT_EQ(report_.serial, "ZVKD0002");
}

// --- the revision the user vouches for ---

struct VouchedCase {
    const char* name;
    std::uint8_t hardwareCode;
    bool answersIdentify;
    HardwareRevision vouched;
    RunEnding ending;
};

void PrintTo(const VouchedCase& c, std::ostream* os) {
    *os << c.name;
}

class VouchedRevisionTest : public RunRequestTest,
                            public ::testing::WithParamInterface<VouchedCase> {};

TEST_P(VouchedRevisionTest, AContradictionEndsTheRunBeforeTheBootloader) {
    const VouchedCase& c = GetParam();
    scenario_.tester.hardwareCode = c.hardwareCode;
    scenario_.tester.answersIdentify = c.answersIdentify;
    RunRequest request;
    request.expectedRevision = c.vouched;
    EXPECT_EQ(Run(request), c.ending);
    const bool contradicted = c.ending == RunEnding::RevisionContradicts;
    EXPECT_EQ(SentCount(CMD_ENTER_BOOTLOADER), contradicted ? 0 : 1);
    // Where the tester agrees, the image is the revision's that was vouched for.
    const std::size_t vouchedFile =
        c.vouched == REVISION_2_CODE ? REVISION_2_FILE_LENGTH : REVISION_1_FILE_LENGTH;
    EXPECT_EQ(ProgrammedFileLength(), contradicted ? 0 : vouchedFile);
    EXPECT_TRUE(report_.revisionReported);
    EXPECT_FALSE(report_.RevisionFromPrompt());
    // The front end words it; the core shows no box of its own.
    EXPECT_TRUE(HostTexts(HostEvent::Kind::Error).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VouchedRevisionTest,
    ::testing::Values(
        VouchedCase{"Code20Vouched2", 20, true, REVISION_2_CODE, RunEnding::ProgrammingComplete},
        VouchedCase{"Code29Vouched1", 29, true, REVISION_1_CODE, RunEnding::RevisionContradicts},
        VouchedCase{"Code19Vouched1", 19, true, REVISION_1_CODE, RunEnding::ProgrammingComplete},
        VouchedCase{"Code10Vouched2", 10, true, REVISION_2_CODE, RunEnding::RevisionContradicts},
        VouchedCase{"ProbeVouched2", 20, false, REVISION_2_CODE, RunEnding::RevisionContradicts},
        VouchedCase{"ProbeVouched1", 20, false, REVISION_1_CODE, RunEnding::ProgrammingComplete}),
    ::testing::PrintToStringParamName());

TEST_F(RunRequestTest, ARevisionFromThePromptContradictsNothing) {
    scenario_.tester.startsInBootloader = true;
    TestHost().promptAnswers = {PromptAnswer::No};
    RunRequest request;
    request.expectedRevision = REVISION_2_CODE;
    EXPECT_EQ(Run(request), RunEnding::ProgrammingComplete);
    EXPECT_EQ(ProgrammedFileLength(), REVISION_2_FILE_LENGTH);
    EXPECT_TRUE(report_.RevisionFromPrompt());
    EXPECT_FALSE(report_.bootloaderEntered);
}

// --- firmware from a named folder ---

TEST_F(RunRequestTest, FirmwareComesFromTheNamedFolder) {
    TestFolder().files.clear();
    PutFirmwareFile(u"VIVAD-h2.0.bin", PatternBytes(10, 3));  // beside the executable
    TestFolder().files[u"/srv/fw/VIVAD-h2.0.bin"].bytes = PatternBytes(REVISION_2_FILE_LENGTH);
    RunRequest request;
    request.firmwareFolder = u"/srv/fw/";
    EXPECT_EQ(Run(request), RunEnding::ProgrammingComplete);
    EXPECT_EQ(TestFolder().openedPaths, std::vector<std::u16string>{u"/srv/fw/VIVAD-h2.0.bin"});
    EXPECT_EQ(ProgrammedFileLength(), REVISION_2_FILE_LENGTH);
}

TEST_F(RunRequestTest, ANamedFolderTooLongForThePathBufferIsNotTried) {
    RunRequest request;
    request.firmwareFolder = u"/" + std::u16string(FIRMWARE_PATH_CAPACITY, u'd') + u"/";
    EXPECT_EQ(Run(request), RunEnding::FirmwareNotFound);
    EXPECT_TRUE(TestFolder().openedPaths.empty());
}

// --- a stop between exchanges ---

struct StopCase {
    const char* name;
    int stopAtWrite;  // the frame of the run, as RunFixture numbers them
    bool bootloaderEntered;
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << c.name;
}

class RunStopTest : public RunRequestTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(RunStopTest, TheExchangeInProgressEndsAndNothingFollows) {
    const StopCase& c = GetParam();
    EXPECT_EQ(RunStoppedAtWrite(c.stopAtWrite), RunEnding::Interrupted);
    EXPECT_EQ(static_cast<int>(SimWrittenFrames().size()), c.stopAtWrite + 1);
    // The reply to the last request was waited for: it is read, not left on the line.
    EXPECT_EQ(SimCallLog().back().function, "FT_Read");
    EXPECT_EQ(report_.bootloaderEntered, c.bootloaderEntered);
    EXPECT_TRUE(HostTexts(HostEvent::Kind::Error).empty());
    EXPECT_EQ(TestHost().events.back().kind, HostEvent::Kind::Enable);
    EXPECT_EQ(FirmwareImageBuffer, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunStopTest,
    ::testing::Values(StopCase{"DuringIdentify", IDENTIFY_EXCHANGE, false},
                      StopCase{"DuringTheSwitch", SWITCH_EXCHANGE, true},
                      StopCase{"DuringTheStart", START_EXCHANGE, true},
                      StopCase{"DuringTheReadinessQuery", READY_EXCHANGE, true},
                      StopCase{"DuringBlock5", FIRST_BLOCK_EXCHANGE + 5, true}),
    ::testing::PrintToStringParamName());

TEST_F(RunRequestTest, AfterAStopInTheBlocksTheNextRunFinishesWithTheRevisionGiven) {
    ASSERT_EQ(RunStoppedAtWrite(FIRST_BLOCK_EXCHANGE + 5), RunEnding::Interrupted);
    ASSERT_EQ(report_.revision, REVISION_2_CODE);
    ClearRunStop();
    // The tester waits in its bootloader, which cannot tell its revision: the user gives it.
    TestHost().promptAnswers = {PromptAnswer::No};
    RunRequest request;
    request.expectedRevision = REVISION_2_CODE;
    EXPECT_EQ(UpdateRun(request, report_), RunEnding::ProgrammingComplete);
    EXPECT_EQ(ProgrammedFileLength(), REVISION_2_FILE_LENGTH);
}

TEST_F(RunRequestTest, AStopAskedBeforeTheRunEndsItRightAfterDiscovery) {
    RequestRunStop();
    EXPECT_EQ(Run(RunRequest{}), RunEnding::Interrupted);
    EXPECT_TRUE(SimWrittenFrames().empty());
    EXPECT_EQ(report_.serial, "ZVKD0001");
}

// --- progress ---

TEST_F(RunRequestTest, ProgressIsReportedBeforeTheFirstBlockAndAfterEveryAcknowledgement) {
    ASSERT_EQ(Run(RunRequest{}), RunEnding::ProgrammingComplete);
    const std::vector<TransferProgress>& reports = TestHost().progress;
    ASSERT_EQ(reports.size(), REVISION_2_BLOCKS + 1);
    for (std::uint32_t i = 0; i < reports.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(reports[i].blocksAcknowledged, i);
        EXPECT_EQ(reports[i].blockCount, REVISION_2_BLOCKS);
        EXPECT_EQ(reports[i].totalBytes, REVISION_2_FILE_LENGTH + 4);
        EXPECT_EQ(reports[i].bytesAcknowledged, std::min<std::uint32_t>(i * 192, 2004));
    }
}

TEST_F(RunRequestTest, AResentBlockIsReportedOnceWhenAcknowledged) {
    // Requests: identify, switch, start, readiness, block 0, block 1 (dropped), block 1 again.
    AddFault(scenario_, FIRST_BLOCK_EXCHANGE + 1, FaultKind::DropReply);
    ASSERT_EQ(Run(RunRequest{}), RunEnding::ProgrammingComplete);
    ASSERT_EQ(TestHost().progress.size(), REVISION_2_BLOCKS + 1);
    EXPECT_EQ(TestHost().progress[2].blocksAcknowledged, 2u);
}

TEST_F(RunRequestTest, NoProgressWithoutATransfer) {
    scenario_.tester.readyStatus = 256;
    EXPECT_EQ(Run(RunRequest{}), RunEnding::TesterNotReady);
    EXPECT_TRUE(TestHost().progress.empty());
}

// --- the frames as they cross the link ---

struct WatchedFrame {
    FrameEvent event;
    Bytes bytes;
    std::uint32_t timeoutMs;
    bool operator==(const WatchedFrame&) const = default;
};
std::vector<WatchedFrame> watched;
void Remember(FrameEvent event, const std::uint8_t* bytes, std::size_t length,
              std::uint32_t timeoutMs) {
    watched.push_back({event, Bytes(bytes, bytes + length), timeoutMs});
}

TEST_F(RunRequestTest, TheWatcherSeesEveryFrameWrittenAndReadAndEveryWaitInVain) {
    watched.clear();
    WatchFrames(Remember);
    scenario_.tester.answersIdentify = false;
    scenario_.tester.answersProbe = false;
    EXPECT_EQ(Run(RunRequest{}), RunEnding::NoReply);
    WatchFrames(nullptr);
    const std::vector<WatchedFrame> expected = {
        {FrameEvent::Written, {0x02, 0x01, 0x01, 0x01, 0x03}, 0},
        {FrameEvent::NoFrame, {}, 1000},
        {FrameEvent::Written, {0x02, 0x01, 0x0A, 0x0A, 0x03}, 0},
        {FrameEvent::NoFrame, {}, 1000},
    };
    EXPECT_EQ(watched, expected);
}

TEST_F(RunRequestTest, TheWatcherSeesTheReplyFrameWhole) {
    watched.clear();
    StartAndOpen(SimScenario{});
    WatchFrames(Remember);
    FrameBuffer frame;
    const TesterIdentity identity = QueryTesterIdentity(frame);
    WatchFrames(nullptr);
    EXPECT_EQ(identity.answer, TesterIdentity::Answer::Identified);
    ASSERT_EQ(watched.size(), 2u);
    EXPECT_EQ(watched[1].event, FrameEvent::Received);
    // 01 14 26: identify, code 20, version 3.8; checksum and ETX as the tester framed them.
    EXPECT_EQ(watched[1].bytes, Bytes({0x02, 0x03, 0x01, 0x14, 0x26, 0x31, 0x03}));
}

// --- identification without a run ---

struct IdentityCase {
    const char* name;
    TesterBehaviour tester;
    TesterIdentity::Answer answer;
    std::uint8_t hardwareCode;
    std::uint8_t firmwareTenths;
    Bytes sent;
};

void PrintTo(const IdentityCase& c, std::ostream* os) {
    *os << c.name;
}

class TesterIdentityTest : public RunRequestTest,
                           public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(TesterIdentityTest, ReportsWhatTheTesterAnsweredAndChangesNothing) {
    const IdentityCase& c = GetParam();
    SimScenario scenario;
    scenario.tester = c.tester;
    StartAndOpen(scenario);
    FrameBuffer frame;
    const TesterIdentity identity = QueryTesterIdentity(frame);
    EXPECT_EQ(identity.answer, c.answer);
    EXPECT_EQ(identity.hardwareCode, c.hardwareCode);
    EXPECT_EQ(identity.firmwareTenths, c.firmwareTenths);
    EXPECT_EQ(SentOpcodes(), c.sent);
    EXPECT_EQ(SimTester().mode,
              c.tester.startsInBootloader ? TesterMode::Bootloader : TesterMode::Firmware);
    EXPECT_TRUE(TestHost().events.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, TesterIdentityTest,
                         ::testing::Values(IdentityCase{"Identified",
                                                        {.hardwareCode = 25, .firmwareTenths = 45},
                                                        TesterIdentity::Answer::Identified,
                                                        25,
                                                        45,
                                                        {CMD_IDENTIFY}},
                                           IdentityCase{"InItsBootloader",
                                                        {.startsInBootloader = true},
                                                        TesterIdentity::Answer::OtherLength,
                                                        0,
                                                        0,
                                                        {CMD_IDENTIFY}},
                                           IdentityCase{"ProbeOnly",
                                                        {.answersIdentify = false},
                                                        TesterIdentity::Answer::ProbeAnswered,
                                                        0,
                                                        0,
                                                        {CMD_IDENTIFY, CMD_PROBE_REV1}},
                                           IdentityCase{
                                               "Silent",
                                               {.answersIdentify = false, .answersProbe = false},
                                               TesterIdentity::Answer::Silent,
                                               0,
                                               0,
                                               {CMD_IDENTIFY, CMD_PROBE_REV1}}),
                         ::testing::PrintToStringParamName());

}  // namespace

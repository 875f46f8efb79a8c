#include "update/update_run.h"
#include "update/run_texts.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/run_fixture.h"
#include "update/tester_commands.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::u16string>;

class UpdateRunTest : public RunFixture {
  protected:
    static double WriteTimeMs(std::uint8_t opcode, int occurrence = 0) {
        for (const SimCall& call : SimCallLog()) {
            if (call.function == "FT_Write" && call.bytes.size() > 2 && call.bytes[2] == opcode &&
                occurrence-- == 0) {
                return static_cast<double>(call.atNs) / NS_PER_MS;
            }
        }
        return -1;
    }

    static Bytes IdentificationOpcodes() {
        Bytes opcodes;
        for (auto op : SentOpcodes()) {
            if (op == CMD_IDENTIFY || op == CMD_PROBE_REV1 || op == CMD_ENTER_BOOTLOADER) {
                opcodes.push_back(op);
            }
        }
        return opcodes;
    }
};

// Revision 2 only for the codes that mean it, with the bootloader given its pause each time.
struct HardwareCodeCase {
    std::uint8_t code;
    std::size_t fileLength;
};

void PrintTo(const HardwareCodeCase& c, std::ostream* os) {
    *os << "code " << int{c.code};
}

class HardwareCodeTest : public UpdateRunTest,
                         public testing::WithParamInterface<HardwareCodeCase> {};

TEST_P(HardwareCodeTest, SelectsTheImage) {
    const HardwareCodeCase& c = GetParam();
    scenario_.tester.hardwareCode = c.code;
    EXPECT_EQ(Run(), RunEnding::ProgrammingComplete);
    EXPECT_EQ(ProgrammedFileLength(), c.fileLength);
    EXPECT_EQ(IdentificationOpcodes(), Bytes({CMD_IDENTIFY, CMD_ENTER_BOOTLOADER}));
    // The bootloader gets its 1500 ms after the reply to the switch.
    const double gap = WriteTimeMs(CMD_START_PROGRAMMING) - WriteTimeMs(CMD_ENTER_BOOTLOADER);
    EXPECT_GE(gap, 1500.0);
    EXPECT_LT(gap, 1500.0 + 100.0);
}

INSTANTIATE_TEST_SUITE_P(Codes, HardwareCodeTest,
                         testing::Values(HardwareCodeCase{20, RunFixture::REVISION_2_FILE_LENGTH},
                                         HardwareCodeCase{25, RunFixture::REVISION_2_FILE_LENGTH},
                                         HardwareCodeCase{29, RunFixture::REVISION_2_FILE_LENGTH},
                                         HardwareCodeCase{19, RunFixture::REVISION_1_FILE_LENGTH},
                                         HardwareCodeCase{30, RunFixture::REVISION_1_FILE_LENGTH},
                                         HardwareCodeCase{10, RunFixture::REVISION_1_FILE_LENGTH},
                                         HardwareCodeCase{0, RunFixture::REVISION_1_FILE_LENGTH}),
                         [](const testing::TestParamInfo<HardwareCodeCase>& info) {
                             return "Code" + std::to_string(info.param.code);
                         });

struct FirmwareVersionCase {
    std::uint8_t tenths;
    const char16_t* line;
};

void PrintTo(const FirmwareVersionCase& c, std::ostream* os) {
    *os << int{c.tenths} << " tenths";
}

class FirmwareVersionTest : public UpdateRunTest,
                            public testing::WithParamInterface<FirmwareVersionCase> {};

TEST_P(FirmwareVersionTest, ShowsTheFirmwareVersionInTenthsBeforeTheSwitchToTheBootloader) {
    const FirmwareVersionCase& c = GetParam();
    scenario_.tester.firmwareTenths = c.tenths;
    scenario_.tester.hardwareCode = 3;
    ASSERT_EQ(Run(), RunEnding::ProgrammingComplete);
    EXPECT_EQ(
        HostTexts(HostEvent::Kind::Line),
        Lines({c.line, u"Burning in Progress.\n Do not unplug.\n", u"Programming complete.\n"}));
    EXPECT_LE(static_cast<double>(TestHost().events[1].atNs) / NS_PER_MS,
              WriteTimeMs(CMD_ENTER_BOOTLOADER));
}

INSTANTIATE_TEST_SUITE_P(
    Tenths, FirmwareVersionTest,
    testing::Values(FirmwareVersionCase{33, u"Current firmware version: 3.3\n"},
                    FirmwareVersionCase{0, u"Current firmware version: 0.0\n"},
                    FirmwareVersionCase{255, u"Current firmware version: 25.5\n"},
                    FirmwareVersionCase{45, u"Current firmware version: 4.5\n"},
                    FirmwareVersionCase{7, u"Current firmware version: 0.7\n"}),
    [](const testing::TestParamInfo<FirmwareVersionCase>& info) {
        return "Tenths" + std::to_string(info.param.tenths);
    });

struct RevisionPromptCase {
    const char* name;
    Bytes identifyReply;
    PromptAnswer answer;
    RunEnding ending;
    std::size_t fileLength;
};

void PrintTo(const RevisionPromptCase& c, std::ostream* os) {
    *os << c.name;
}

const RevisionPromptCase REVISION_PROMPT_CASES[] = {
    {"TwoBytesYesIsRevision1",
     {0x01, 0xB0},
     PromptAnswer::Yes,
     RunEnding::ProgrammingComplete,
     RunFixture::REVISION_1_FILE_LENGTH},
    {"FourBytesNoIsRevision2",
     {0x01, 20, 33, 0},
     PromptAnswer::No,
     RunEnding::ProgrammingComplete,
     RunFixture::REVISION_2_FILE_LENGTH},
    {"EmptyReplyYes",
     {},
     PromptAnswer::Yes,
     RunEnding::ProgrammingComplete,
     RunFixture::REVISION_1_FILE_LENGTH},
    {"CancelEndsTheRun", {0x01, 0xB0}, PromptAnswer::Cancel, RunEnding::Cancelled, 0},
    {"NoAnswerAtAllEndsItToo", {0x01, 0xB0}, PromptAnswer::None, RunEnding::Cancelled, 0},
};

class RevisionPromptTest : public UpdateRunTest,
                           public testing::WithParamInterface<RevisionPromptCase> {};

TEST_P(RevisionPromptTest, WhenTheIdentifyReplyHasAnotherLength) {
    const RevisionPromptCase& c = GetParam();
    scenario_.tester.startsInBootloader = true;
    scenario_.tester.bootloaderIdentifyReply = c.identifyReply;
    TestHost().promptAnswers = {c.answer};
    EXPECT_EQ(Run(), c.ending);
    EXPECT_EQ(HostTexts(HostEvent::Kind::Prompt),
              Lines({u"REduzazav Warning|"
                     u"Failed to read the hardware revision of the USB Power Delivery "
                     u"Tester.\nPlease check the label on the back of the tester to discover "
                     u"the hardware revision.\n\nIs this revision #1 hardware ?\nClick YES, "
                     u"to load the firmware for HX200 (Revision 1 hardware).\nClick NO, to "
                     u"load the firmware for HX300 (Revision 2 hardware).\nClick Cancel, to "
                     u"take no action.\n"}));
    EXPECT_EQ(ProgrammedFileLength(), c.fileLength);
    // The tester is already in its bootloader: no switch and no wait for it.
    EXPECT_EQ(IdentificationOpcodes(), Bytes({CMD_IDENTIFY}));
    EXPECT_TRUE(HostTexts(HostEvent::Kind::Error).empty());
    if (c.ending == RunEnding::Cancelled) {
        EXPECT_EQ(SentOpcodes(), Bytes({CMD_IDENTIFY}));
        EXPECT_TRUE(HostTexts(HostEvent::Kind::Line).empty());
        EXPECT_NE(TesterLink, nullptr) << "the link stays open after the run";
    } else {
        EXPECT_LT(WriteTimeMs(CMD_START_PROGRAMMING), 300.0);
        EXPECT_EQ(HostTexts(HostEvent::Kind::Line).front(), RunTextOf(RunText::BurningLine));
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, RevisionPromptTest, testing::ValuesIn(REVISION_PROMPT_CASES),
                         testing::PrintToStringParamName());

struct ProbeCase {
    const char* name;
    Bytes probeReply;
};

void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << c.name;
}

class ProbeTest : public UpdateRunTest, public testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeTest, ProbeAtOnceWhenIdentifyGetsNoReply) {
    const ProbeCase& c = GetParam();
    scenario_.tester.answersIdentify = false;
    scenario_.tester.probeReply = c.probeReply;
    scenario_.tester.hardwareCode = 20;
    EXPECT_EQ(Run(), RunEnding::ProgrammingComplete);
    EXPECT_EQ(IdentificationOpcodes(), Bytes({CMD_IDENTIFY, CMD_PROBE_REV1, CMD_ENTER_BOOTLOADER}));
    EXPECT_EQ(ProgrammedFileLength(), REVISION_1_FILE_LENGTH);
    // 100 ms pause, then the 1000 ms wait that ends at the first empty read past it.
    EXPECT_NEAR(WriteTimeMs(CMD_PROBE_REV1) - WriteTimeMs(CMD_IDENTIFY), 1101.0, 0.01);
    EXPECT_EQ(HostTexts(HostEvent::Kind::Line).front(), RunTextOf(RunText::BurningLine))
        << "no version line";
}

INSTANTIATE_TEST_SUITE_P(ProbeReplies, ProbeTest,
                         testing::Values(ProbeCase{"ProbeAnswered", {0x0A}},
                                         ProbeCase{"ProbeAnsweredWithAnEmptyPayload", {}}),
                         testing::PrintToStringParamName());

TEST_F(UpdateRunTest, ALateIdentifyReplyIsTakenAsTheProbeReply) {
    scenario_.tester.hardwareCode = 20;
    AddFault(scenario_, IDENTIFY_EXCHANGE, FaultKind::LateReply, 1200 * NS_PER_MS);
    EXPECT_EQ(Run(), RunEnding::ProgrammingComplete);
    EXPECT_EQ(IdentificationOpcodes(), Bytes({CMD_IDENTIFY, CMD_PROBE_REV1, CMD_ENTER_BOOTLOADER}));
    EXPECT_EQ(ProgrammedFileLength(), REVISION_1_FILE_LENGTH);
}

TEST_F(UpdateRunTest, NoReplyToTheBootloaderSwitchStillWaitsAndGoesOn) {
    scenario_.tester.answersEnterBootloader = false;
    EXPECT_EQ(Run(), RunEnding::ProgrammingComplete);
    EXPECT_NEAR(WriteTimeMs(CMD_START_PROGRAMMING) - WriteTimeMs(CMD_ENTER_BOOTLOADER), 2501.0,
                0.01);
}

TEST_F(UpdateRunTest, ALateBootloaderReplyIsTheFirstFrameTheTransferReads) {
    AddFault(scenario_, SWITCH_EXCHANGE, FaultKind::LateReply, 1100 * NS_PER_MS);
    EXPECT_EQ(Run(), RunEnding::ProgrammingComplete);
    // The first start attempt is judged by the switch's reply, so the start goes out twice.
    EXPECT_EQ(SentCount(CMD_START_PROGRAMMING), 2);
    EXPECT_EQ(ProgrammedFileLength(), REVISION_2_FILE_LENGTH);
}

struct EndingCase {
    const char* name;
    std::function<void(SimScenario&)> arrange;
    RunEnding ending;
    std::u16string_view message;
};

void PrintTo(const EndingCase& c, std::ostream* os) {
    *os << c.name;
}

// The texts as the user reads them, written out rather than taken from the updater.
constexpr std::u16string_view NO_TESTER =
    u"No Corvalt USB Power Delivery Tester device detected.\n"
    u"You may need to plug in (or install) USB devices.\n";
constexpr std::u16string_view SEVERAL_TESTERS =
    u"This application only supports 1 connected USB Power Delivery Tester device.\n"
    u"You need to remove USB devices.\n";

const EndingCase ENDING_CASES[] = {
    {"NoDevice", [](SimScenario& s) { s.devices.clear(); }, RunEnding::NoTester, NO_TESTER},
    {"NoTesterAmongTheDevices", [](SimScenario& s) { s.devices = {{.serial = "FT123"}}; },
     RunEnding::NoTester, NO_TESTER},
    {"TwoTesters", [](SimScenario& s) { s.devices.push_back({.serial = "ZVKD0002"}); },
     RunEnding::SeveralTesters, SEVERAL_TESTERS},
    {"OpenFails", [](SimScenario& s) { s.devices[0].openFails = true; }, RunEnding::OpenFailed,
     u""},
    {"NoReplyToIdentifyOrProbe",
     [](SimScenario& s) { s.tester.answersIdentify = s.tester.answersProbe = false; },
     RunEnding::NoReply, NO_TESTER},
    {"PromptCancelled", [](SimScenario& s) { s.tester.startsInBootloader = true; },
     RunEnding::Cancelled, u""},
    {"FirmwareFileMissing", [](SimScenario&) { TestFolder().files.clear(); },
     RunEnding::FirmwareNotFound, u"Failed to find firmware file."},
    {"FirmwareFileUnreadable",
     [](SimScenario&) {
         for (auto& [path, file] : TestFolder().files) {
             file.readFails = true;
         }
     },
     RunEnding::FirmwareUnreadable, u"Failed to read firmware file."},
    {"StartNeverAnswered",
     [](SimScenario& s) {
         // Each of the three sends of the start command.
         for (std::uint32_t r = 0; r < 3; ++r) {
             AddFault(s, START_EXCHANGE + r, FaultKind::DropReply);
         }
     },
     RunEnding::ProgrammingFailed, u"Failed to program firmware."},
    {"ImageTooLongToNumber",
     [](SimScenario&) {
         for (auto& [path, file] : TestFolder().files) {
             file.reportedSize = 12582717;
         }
     },
     RunEnding::ProgrammingFailed, u"Failed to program firmware."},
    {"TesterNotReady", [](SimScenario& s) { s.tester.readyStatus = 0x0100; },
     RunEnding::TesterNotReady, u"Please unplug and reconnect the tester and try again."},
    {"Programmed", [](SimScenario&) {}, RunEnding::ProgrammingComplete, u""},
};

class EndingTest : public UpdateRunTest, public testing::WithParamInterface<EndingCase> {};

TEST_P(EndingTest, EveryEndingLeavesThroughTheOneExit) {
    const EndingCase& c = GetParam();
    c.arrange(scenario_);
    EXPECT_EQ(Run(), c.ending);
    const Lines errors = HostTexts(HostEvent::Kind::Error);
    EXPECT_EQ(errors, c.message.empty() ? Lines{} : Lines({std::u16string(c.message)}));
    // PROGRAM is disabled first and enabled last, after the error box has been closed.
    const auto& events = TestHost().events;
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events.front().kind, HostEvent::Kind::Disable);
    EXPECT_EQ(events.back().kind, HostEvent::Kind::Enable);
    EXPECT_EQ(HostTexts(HostEvent::Kind::Enable).size(), 1u);
    EXPECT_EQ(FirmwareImageBuffer, nullptr);
    const bool complete =
        !HostTexts(HostEvent::Kind::Line).empty() &&
        HostTexts(HostEvent::Kind::Line).back() == RunTextOf(RunText::CompleteLine);
    EXPECT_EQ(complete, c.ending == RunEnding::ProgrammingComplete);
}

INSTANTIATE_TEST_SUITE_P(Endings, EndingTest, testing::ValuesIn(ENDING_CASES),
                         testing::PrintToStringParamName());

TEST_F(UpdateRunTest, AnImageTooLongToNumberIsRefusedBeforeAnyOfTheTransfer) {
    MemoryFile huge;
    huge.reportedSize = 12582717;  // its image would need a 65,536th block
    PutFirmwareFile(u"VIVAD-h2.0.bin", huge);
    EXPECT_EQ(Run(), RunEnding::ProgrammingFailed);
    EXPECT_EQ(SentOpcodes(), Bytes({CMD_IDENTIFY, CMD_ENTER_BOOTLOADER}));
    EXPECT_EQ(HostTexts(HostEvent::Kind::Line), Lines({u"Current firmware version: 3.8\n"}));
}

TEST_F(UpdateRunTest, LinesOfConsecutiveRunsAccumulate) {
    StartScenario(scenario_);
    ASSERT_EQ(UpdateRun(), RunEnding::ProgrammingComplete);
    // The user starts the next run once the tester has restarted its new firmware.
    SimWaitUntil(SimNow() + 10 * NS_PER_S);
    ASSERT_EQ(UpdateRun(), RunEnding::ProgrammingComplete);
    const Lines once = {u"Current firmware version: 3.8\n",
                        u"Burning in Progress.\n Do not unplug.\n", u"Programming complete.\n"};
    Lines twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(HostTexts(HostEvent::Kind::Line), twice);
    EXPECT_EQ(SimTester().image.verifiedCount, 2);
    EXPECT_EQ(SimOpenHandleCount(), 1);
}

}  // namespace

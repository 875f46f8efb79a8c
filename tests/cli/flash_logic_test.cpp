// The command-line updater's portable pieces: its arguments, exit codes, words, progress line and
// text encoding; and its run host, over a console and a clock of the test's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/console_run_host.h"
#include "cli/exit_codes.h"
#include "cli/flash_command_line.h"
#include "cli/flash_texts.h"
#include "cli/progress_meter.h"
#include "cli/text_encoding.h"
#include "link/clock.h"
#include "update/run_host.h"
#include "update/run_stop.h"

// --- the console and the clock under the run host ---

namespace {

constexpr std::int64_t FAKE_TICKS_PER_SECOND = 1'000'000'000;

struct FakeConsole {
    std::string out;
    std::string err;
    bool inputIsTerminal = true;
    // What the next line read gives.
    InputLine input = InputLine::Ended;
    std::string typed;
    int linesRead = 0;
    std::int64_t ticks = 0;
};

FakeConsole console;

}  // namespace

void Write(Stream stream, std::string_view utf8) {
    (stream == Stream::Out ? console.out : console.err) += utf8;
}

bool StandardInputIsTerminal() {
    return console.inputIsTerminal;
}

InputLine ReadInputLine(std::string& line) {
    ++console.linesRead;
    line = console.input == InputLine::Read ? console.typed : std::string();
    return console.input;
}

std::int64_t ClockTicks() {
    return console.ticks;
}

std::int64_t ClockTicksPerSecond() {
    return FAKE_TICKS_PER_SECOND;
}

namespace {

// --- arguments ---

struct ArgumentsCase {
    const char* name = "";
    std::vector<std::string> arguments = {};
    // nullopt: a command to run.
    std::optional<int> exitCode = {};
    FlashCommand command = FlashCommand::List;
    std::string serial = {};
    std::optional<int> revision = {};
    bool quiet = false;
    std::optional<std::string> firmwareDirectory = {};
    std::optional<std::string> traceFile = {};
    // Part of the error, when there is one.
    std::string error = {};
};

void PrintTo(const ArgumentsCase& c, std::ostream* os) {
    *os << c.name;
}

class FlashArgumentsTest : public ::testing::TestWithParam<ArgumentsCase> {};

TEST_P(FlashArgumentsTest, ParsesOrRefuses) {
    const ArgumentsCase& c = GetParam();
    std::vector<std::string> arguments = {"vivad-flash"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    FlashOptions options;
    std::string out;
    std::string err;
    EXPECT_EQ(ParseFlashArguments(arguments, options, out, err), c.exitCode) << err;
    if (c.exitCode == 2) {
        // One line that says what is wrong, then the usage.
        EXPECT_NE(err.find(c.error), std::string::npos) << err;
        EXPECT_EQ(err.rfind("vivad-flash: ", 0), 0u) << err;
        EXPECT_NE(err.find("\nUsage:\n"), std::string::npos) << err;
        EXPECT_TRUE(out.empty());
        return;
    }
    EXPECT_TRUE(err.empty()) << err;
    if (c.exitCode) {
        // --help and --version say what they were asked.
        EXPECT_FALSE(out.empty());
        return;
    }
    EXPECT_EQ(options.command, c.command);
    EXPECT_EQ(options.serial, c.serial);
    EXPECT_EQ(options.revision, c.revision);
    EXPECT_EQ(options.quiet, c.quiet);
    EXPECT_EQ(options.firmwareDirectory, c.firmwareDirectory);
    EXPECT_EQ(options.traceFile, c.traceFile);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FlashArgumentsTest,
    ::testing::Values(
        ArgumentsCase{.name = "List", .arguments = {"list"}, .exitCode = std::nullopt},
        ArgumentsCase{.name = "InfoWithSerial",
                      .arguments = {"info", "--serial", "ZVKD0002"},
                      .exitCode = std::nullopt,
                      .command = FlashCommand::Info,
                      .serial = "ZVKD0002"},
        ArgumentsCase{.name = "ProgramWithEverything",
                      .arguments = {"program", "--serial=ZVKD0001", "--revision", "2", "--quiet",
                                    "--firmware-dir", ".", "--trace", "frames.txt"},
                      .exitCode = std::nullopt,
                      .command = FlashCommand::Program,
                      .serial = "ZVKD0001",
                      .revision = 2,
                      .quiet = true,
                      .firmwareDirectory = ".",
                      .traceFile = "frames.txt"},
        ArgumentsCase{.name = "Help", .arguments = {"--help"}, .exitCode = 0},
        ArgumentsCase{.name = "Version", .arguments = {"--version"}, .exitCode = 0},
        ArgumentsCase{.name = "NoCommand", .arguments = {}, .exitCode = 2, .error = "subcommand"},
        ArgumentsCase{
            .name = "UnknownCommand", .arguments = {"flash"}, .exitCode = 2, .error = "flash"},
        ArgumentsCase{.name = "RevisionThree",
                      .arguments = {"program", "--revision", "3"},
                      .exitCode = 2,
                      .error = "--revision"},
        ArgumentsCase{.name = "RevisionWord",
                      .arguments = {"program", "--revision", "two"},
                      .exitCode = 2,
                      .error = "--revision"},
        ArgumentsCase{.name = "RevisionMissing",
                      .arguments = {"program", "--revision"},
                      .exitCode = 2,
                      .error = "--revision"},
        ArgumentsCase{.name = "EmptySerial",
                      .arguments = {"program", "--serial", ""},
                      .exitCode = 2,
                      .error = "serial"},
        ArgumentsCase{.name = "FirmwareDirMissing",
                      .arguments = {"program", "--firmware-dir", "/no/such/folder"},
                      .exitCode = 2,
                      .error = "/no/such/folder"},
        ArgumentsCase{.name = "ListTakesNoSerial",
                      .arguments = {"list", "--serial", "ZVKD0001"},
                      .exitCode = 2,
                      .error = "--serial"},
        ArgumentsCase{.name = "InfoTakesNoRevision",
                      .arguments = {"info", "--revision", "1"},
                      .exitCode = 2,
                      .error = "--revision"},
        ArgumentsCase{
            .name = "TwoCommands", .arguments = {"list", "info"}, .exitCode = 2, .error = "info"}),
    ::testing::PrintToStringParamName());

TEST(FlashHelp, ListsEveryCommandOptionAndExitCode) {
    FlashOptions options;
    std::string out;
    std::string err;
    ASSERT_EQ(ParseFlashArguments({"vivad-flash", "--help"}, options, out, err), 0);
    for (const char* word : {"list", "info", "program", "--serial", "--firmware-dir", "--revision",
                             "--trace", "--quiet", "--version"}) {
        EXPECT_NE(out.find(word), std::string::npos) << word;
    }
    // Whole lines, as the user reads them: the codes right-aligned, the meaning after them.
    for (const char* line : {"\n      0  complete (list, info: done)\n",
                             "\n      3  no tester found, or it does not answer\n",
                             "\n      8  programming failed: the tester stopped answering\n",
                             "\n     11  the tester reports another revision than --revision\n",
                             "\n    130  interrupted (Ctrl-C)\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "in:\n" << out;
    }
}

// The manual page is read out of --help by help2man, which takes a line as an entry only when its
// name and its description share it, and an option's metavariable as all that follows its name.
TEST(FlashHelp, PutsEachEntryOnTheLineOfItsDescription) {
    FlashOptions options;
    std::string out;
    std::string err;
    ASSERT_EQ(ParseFlashArguments({"vivad-flash", "--help"}, options, out, err), 0);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < out.size();) {
        const std::size_t end = out.find('\n', start);
        lines.push_back(out.substr(start, end - start));
        start = end == std::string::npos ? out.size() : end + 1;
    }
    const struct {
        const char* entry;
        const char* descriptionStart;
    } entries[] = {
        {"  list ", "List the attached testers"},
        {"  info ", "Show the tester's serial number"},
        {"  program ", "Write the firmware"},
        {"    --serial SERIAL ", "The tester's full serial number"},
        {"    --firmware-dir DIR ", "Where VIVAD-h1.0.bin"},
        {"    --revision 1|2 ", "The hardware revision on the tester's label"},
        {"    --trace FILE ", "Write every frame"},
        {"    --quiet ", "Show no progress"},
    };
    for (const auto& expected : entries) {
        bool found = false;
        for (const std::string& line : lines) {
            if (line.starts_with(expected.entry)) {
                found = true;
                EXPECT_NE(line.find(expected.descriptionStart), std::string::npos) << line;
            }
        }
        EXPECT_TRUE(found) << "no line begins \"" << expected.entry << "\"";
    }
}

// --- exit codes ---

TEST(FlashExitCodes, EachEndingMapsToItsCode) {
    const struct {
        RunEnding ending;
        int code;
    } cases[] = {
        {RunEnding::ProgrammingComplete, 0},
        {RunEnding::NoTester, 3},
        {RunEnding::NoReply, 3},
        {RunEnding::SeveralTesters, 4},
        {RunEnding::OpenFailed, 5},
        {RunEnding::FirmwareNotFound, 6},
        {RunEnding::FirmwareUnreadable, 7},
        {RunEnding::ProgrammingFailed, 8},
        {RunEnding::TesterNotReady, 9},
        {RunEnding::Cancelled, 10},
        {RunEnding::RevisionContradicts, 11},
        {RunEnding::Interrupted, 130},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AsInt(ExitCodeOf(c.ending)), c.code) << static_cast<int>(c.ending);
    }
}

// --- words ---

TEST(FlashTexts, TheFinishingCommandNamesTheRevisionAndOnlyASerialTheUserNamed) {
    EXPECT_EQ(FinishCommand("vivad-flash", "", 20), "vivad-flash program --revision 2");
    EXPECT_EQ(FinishCommand("vivad-flash", "", 10), "vivad-flash program --revision 1");
    // Any code but 20 is revision-1 hardware.
    EXPECT_EQ(FinishCommand("vivad-flash", "", 19), "vivad-flash program --revision 1");
    EXPECT_EQ(FinishCommand("vivad-flash", "ZVKD0002", 20),
              "vivad-flash program --serial ZVKD0002 --revision 2");
}

struct TesterStandCase {
    const char* label;
    bool revisionReported;
    bool revisionSettled;
    bool bootloaderEntered;
    // The tester waits in its bootloader, so the words name the command that finishes.
    bool inBootloader;
};

// Named by the label in test output, not dumped as bytes.
void PrintTo(const TesterStandCase& c, std::ostream* os) {
    *os << c.label;
}

class FlashTextsTesterStand : public ::testing::TestWithParam<TesterStandCase> {};

// After an interruption and after a failure alike.
TEST_P(FlashTextsTesterStand, NameTheFinishingCommandOnlyForATesterInItsBootloader) {
    const TesterStandCase& c = GetParam();
    RunReport report;
    report.revisionReported = c.revisionReported;
    report.revisionSettled = c.revisionSettled;
    report.revision = REVISION_2_CODE;
    report.bootloaderEntered = c.bootloaderEntered;
    const std::string finish = "vivad-flash program --revision 2";
    const std::string interrupted = InterruptedText(report, finish);
    const std::string left = LeftInBootloaderText(report, finish);
    if (c.inBootloader) {
        EXPECT_NE(interrupted.find("stays in its bootloader"), std::string::npos) << interrupted;
        EXPECT_NE(interrupted.find(finish), std::string::npos) << interrupted;
        EXPECT_NE(left.find("stays in its bootloader"), std::string::npos) << left;
        EXPECT_NE(left.find(finish), std::string::npos) << left;
    } else {
        EXPECT_EQ(interrupted, "Interrupted before anything was changed on the tester.");
        EXPECT_EQ(left, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stands, FlashTextsTesterStand,
    ::testing::Values(TesterStandCase{"NothingLearnt", false, false, false, false},
                      TesterStandCase{"RevisionReportedBeforeTheSwitch", true, true, false, false},
                      TesterStandCase{"SwitchedIntoItsBootloader", true, true, true, true},
                      // A revision from the prompt: the tester was in its bootloader all along.
                      TesterStandCase{"InItsBootloaderAllAlong", false, true, false, true}),
    ::testing::PrintToStringParamName());

TEST(FlashTexts, AContradictionNamesBothRevisions) {
    RunReport report;
    report.revisionReported = true;
    report.hardwareCode = 25;
    report.revision = 20;
    const std::string text = ContradictionText(report, 10);
    EXPECT_NE(text.find("revision 2 (code 25)"), std::string::npos) << text;
    EXPECT_NE(text.find("--revision 1"), std::string::npos) << text;
    report.probeAnswered = true;
    report.revision = 10;
    EXPECT_NE(ContradictionText(report, 20).find("revision-1 probe"), std::string::npos);
}

// --- progress ---

TransferProgress Progress(std::uint32_t acknowledged, std::uint32_t blocks = 100,
                          std::uint32_t total = 19200) {
    return {acknowledged, blocks, std::min(acknowledged * 192, total), total};
}

TEST(ProgressMeterRedrawn, DrawsAtOnceThenAFewTimesASecondAndAlwaysTheEnd) {
    ProgressMeter meter;
    meter.style = ProgressStyle::Redrawn;
    std::vector<std::int64_t> drawnAt;
    std::string last;
    for (std::uint32_t block = 0; block <= 100; ++block) {
        // One block every 34 ms, as the real link goes.
        const std::int64_t now = 1000 + block * 34;
        const std::string text = UpdateProgress(meter, Progress(block), now);
        if (!text.empty()) {
            drawnAt.push_back(now);
            last = text;
        }
    }
    ASSERT_GE(drawnAt.size(), 3u);
    EXPECT_EQ(drawnAt.front(), 1000);
    EXPECT_EQ(drawnAt.back(), 1000 + 100 * 34);
    for (std::size_t i = 1; i + 1 < drawnAt.size(); ++i) {
        EXPECT_GE(drawnAt[i] - drawnAt[i - 1], PROGRESS_REDRAW_INTERVAL_MS) << i;
    }
    // 19200 bytes in 3.4 s, and the line ends with its line feed.
    EXPECT_EQ(last.front(), '\r');
    EXPECT_NE(last.find("100%  100/100 blocks  5.5 KiB/s  0:00 left"), std::string::npos) << last;
    EXPECT_EQ(last.back(), '\n');
    EXPECT_TRUE(CloseProgressLine(meter).empty());
}

TEST(ProgressMeterRedrawn, ShowsRateAndTimeLeftOnceBytesHaveGone) {
    ProgressMeter meter;
    meter.style = ProgressStyle::Redrawn;
    const std::string first = UpdateProgress(meter, Progress(0), 0);
    EXPECT_NE(first.find("  0%  0/100 blocks  --  --:-- left"), std::string::npos) << first;
    // 50 blocks, 9600 bytes, in 2 s: 4.7 KiB/s, 2 s to go.
    const std::string half = UpdateProgress(meter, Progress(50), 2000);
    EXPECT_NE(half.find(" 50%  50/100 blocks  4.7 KiB/s  0:02 left"), std::string::npos) << half;
    // Open until something else is written.
    EXPECT_EQ(CloseProgressLine(meter), "\n");
    EXPECT_EQ(CloseProgressLine(meter), "");
}

TEST(ProgressMeterRedrawn, BlanksWhatALongerLineLeft) {
    ProgressMeter meter;
    meter.style = ProgressStyle::Redrawn;
    // A line with four-digit block counts, then one with one-digit counts over it.
    const std::string wide = UpdateProgress(meter, Progress(999, 1000, 192000), 1000);
    const std::string narrow = UpdateProgress(meter, Progress(1, 1, 192), 2000);
    ASSERT_FALSE(wide.empty());
    ASSERT_FALSE(narrow.empty());
    EXPECT_EQ(narrow.front(), '\r');
    // Padded with blanks to the wide line's width, then ended, as the last block came.
    EXPECT_EQ(narrow.size(), wide.size() + 1);
    EXPECT_EQ(narrow.substr(narrow.size() - 2), " \n");
}

TEST(ProgressMeterTenths, OneLineAtEachTenthCrossed) {
    ProgressMeter meter;
    meter.style = ProgressStyle::TenthLines;
    std::vector<std::string> lines;
    for (std::uint32_t block = 0; block <= 100; ++block) {
        const std::string text = UpdateProgress(meter, Progress(block), block);
        if (!text.empty()) {
            lines.push_back(text);
        }
    }
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines.front(), "progress: 10% (10 of 100 blocks)\n");
    EXPECT_EQ(lines.back(), "progress: 100% (100 of 100 blocks)\n");
    EXPECT_TRUE(CloseProgressLine(meter).empty());
}

TEST(ProgressMeterTenths, ASmallImageSkipsTenthsItJumpsOver) {
    ProgressMeter meter;
    meter.style = ProgressStyle::TenthLines;
    EXPECT_EQ(UpdateProgress(meter, Progress(0, 3, 576), 0), "");
    EXPECT_EQ(UpdateProgress(meter, Progress(1, 3, 576), 1), "progress: 30% (1 of 3 blocks)\n");
    EXPECT_EQ(UpdateProgress(meter, Progress(2, 3, 576), 2), "progress: 60% (2 of 3 blocks)\n");
    EXPECT_EQ(UpdateProgress(meter, Progress(3, 3, 576), 3), "progress: 100% (3 of 3 blocks)\n");
}

TEST(ProgressMeterNone, SaysNothing) {
    ProgressMeter meter;
    for (std::uint32_t block = 0; block <= 100; ++block) {
        EXPECT_EQ(UpdateProgress(meter, Progress(block), block * 1000), "");
    }
}

TEST(ProgressFormats, DurationsAndRates) {
    EXPECT_EQ(FormatDuration(0), "0:00");
    EXPECT_EQ(FormatDuration(6.2), "0:07");
    EXPECT_EQ(FormatDuration(65), "1:05");
    EXPECT_EQ(FormatDuration(-1), "--:--");
    EXPECT_EQ(FormatRate(850), "850 B/s");
    EXPECT_EQ(FormatRate(11468.8), "11.2 KiB/s");
}

// --- the run host ---

struct PromptCase {
    const char* label;
    // Ctrl-C before the question.
    bool stopBefore = false;
    bool inputIsTerminal = true;
    InputLine input = InputLine::Read;
    std::string typed = {};
    PromptAnswer answer = PromptAnswer::Cancel;
    bool questionShown = true;
    // The run then stops: the command line ends it as interrupted, with exit code 130.
    bool stopAfter = false;
};

// Named by the label in test output, not dumped as bytes.
void PrintTo(const PromptCase& c, std::ostream* os) {
    *os << c.label;
}

class ConsoleHostPrompt : public ::testing::TestWithParam<PromptCase> {
  protected:
    void SetUp() override {
        console = FakeConsole{};
        ClearRunStop();
        SetUpConsoleHost(ConsoleHostSettings{});
    }
    void TearDown() override { ClearRunStop(); }
};

TEST_P(ConsoleHostPrompt, AnswersAsTyped) {
    const PromptCase& c = GetParam();
    console.inputIsTerminal = c.inputIsTerminal;
    console.input = c.input;
    console.typed = c.typed;
    if (c.stopBefore) {
        RequestRunStop();
    }
    EXPECT_EQ(AskRevision(u"Caption", u"Which revision?"), c.answer);
    EXPECT_EQ(console.linesRead, c.questionShown ? 1 : 0);
    EXPECT_EQ(console.err.find(PROMPT_QUESTION) != std::string::npos, c.questionShown)
        << console.err;
    if (c.questionShown) {
        // A typed answer's Enter ends the question's line; otherwise the host ends it.
        EXPECT_EQ(console.err.back(), c.input == InputLine::Read ? ' ' : '\n') << console.err;
    }
    EXPECT_EQ(RunStopRequested(), c.stopAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleHostPrompt,
    ::testing::Values(
        PromptCase{.label = "One", .typed = " 1\r", .answer = PromptAnswer::Yes},
        PromptCase{.label = "Two", .typed = "2", .answer = PromptAnswer::No},
        PromptCase{.label = "AnythingElseCancels", .typed = "12"},
        PromptCase{.label = "EndOfInputCancels", .input = InputLine::Ended},
        PromptCase{
            .label = "NoTerminalAsksNothing", .inputIsTerminal = false, .questionShown = false},
        // Ctrl-C while the line is awaited: stopped even before (on Windows) the handler runs.
        PromptCase{.label = "InterruptedRead", .input = InputLine::Interrupted, .stopAfter = true},
        // Ctrl-C that came before the question: no line is awaited for it.
        PromptCase{.label = "StoppedBeforeTheQuestion",
                   .stopBefore = true,
                   .questionShown = false,
                   .stopAfter = true}),
    ::testing::PrintToStringParamName());

TEST(ConsoleHostPromptAnswer, TheRevisionOptionAnswersWithoutAsking) {
    console = FakeConsole{};
    ConsoleHostSettings settings;
    settings.revisionAnswer = REVISION_2_CODE;
    SetUpConsoleHost(settings);
    EXPECT_EQ(AskRevision(u"Caption", u"Which revision?"), PromptAnswer::No);
    settings.revisionAnswer = REVISION_1_CODE;
    SetUpConsoleHost(settings);
    EXPECT_EQ(AskRevision(u"Caption", u"Which revision?"), PromptAnswer::Yes);
    EXPECT_EQ(console.linesRead, 0);
    EXPECT_EQ(console.err, "");
}

// Ticks times 1000 passes the int64 range when a counter of nanoseconds since boot reaches
// about 106 days; a transfer across that moment still gets its rate.
TEST(ConsoleHostProgress, TheRateHoldsWhereTicksTimesAThousandOverflows) {
    constexpr std::int64_t OVERFLOW_TICKS = INT64_MAX / 1000;
    console = FakeConsole{};
    console.ticks = OVERFLOW_TICKS - FAKE_TICKS_PER_SECOND;
    ConsoleHostSettings settings;
    settings.progressStyle = ProgressStyle::Redrawn;
    SetUpConsoleHost(settings);
    ReportProgress(Progress(0));
    // 50 blocks, 9600 bytes, in 2 s: 4.7 KiB/s, 2 s to go.
    console.ticks += 2 * FAKE_TICKS_PER_SECOND;
    ReportProgress(Progress(50));
    EXPECT_NE(console.err.find(" 50%  50/100 blocks  4.7 KiB/s  0:02 left"), std::string::npos)
        << console.err;
}

// --- encoding ---

TEST(TextEncoding, RoundTripsAndReplacesWhatIsNoText) {
    const std::u16string text = u"Burning \u00e9\u20ac\U0001F50C\n";
    EXPECT_EQ(Utf8FromUtf16(text), "Burning \xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x8c\n");
    EXPECT_EQ(Utf16FromUtf8(Utf8FromUtf16(text)), text);
    // A lone surrogate, an overlong slash, a cut sequence.
    EXPECT_EQ(Utf8FromUtf16(std::u16string(1, char16_t{0xD800})), "\xef\xbf\xbd");
    EXPECT_EQ(Utf16FromUtf8("\xc0\xaf"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("a\xe2\x82"), u"a\uFFFD\uFFFD");
}

}  // namespace

#include "cli/console_run_host.h"

#include <string>

#include "cli/console.h"
#include "cli/flash_texts.h"
#include "cli/text_encoding.h"
#include "link/clock.h"
#include "update/run_host.h"
#include "update/run_stop.h"

namespace {

ConsoleHostSettings settings;
ProgressMeter meter;
std::int64_t startTicks = 0;
std::int64_t ticksPerSecond = 1;

std::int64_t NowMs() {
    return MillisecondsBetween(startTicks, ClockTicks(), ticksPerSecond);
}

// Other output starts on a line of its own, not behind a redrawn progress line.
void EndProgressLine() {
    // Ctrl-C's notice began with a line feed of its own.
    if (RunStopRequested()) {
        meter.lineOpen = false;
    }
    const std::string close = CloseProgressLine(meter);
    if (!close.empty()) {
        Write(Stream::Err, close);
    }
}

PromptAnswer AnswerFor(HardwareRevision revision) {
    return revision == REVISION_2_CODE ? PromptAnswer::No : PromptAnswer::Yes;
}

}  // namespace

void SetUpConsoleHost(const ConsoleHostSettings& chosen) {
    settings = chosen;
    meter = ProgressMeter{};
    meter.style = settings.progressStyle;
    ticksPerSecond = ClockTicksPerSecond();
    startTicks = ClockTicks();
}

void WriteError(const std::string& text) {
    EndProgressLine();
    Write(Stream::Err, text);
}

void StatusLog(std::u16string_view line) {
    EndProgressLine();
    Write(Stream::Out, Utf8FromUtf16(line));
}

void ShowError(std::u16string_view text) {
    std::string message = Utf8FromUtf16(text);
    if (message.empty() || message.back() != '\n') {
        message += '\n';
    }
    WriteError(message);
}

PromptAnswer AskRevision(std::u16string_view caption, std::u16string_view text) {
    if (settings.revisionAnswer) {
        return AnswerFor(*settings.revisionAnswer);
    }
    // A Ctrl-C that came before the question would otherwise wait for a line.
    if (RunStopRequested() || !StandardInputIsTerminal()) {
        return PromptAnswer::Cancel;
    }
    WriteError(Utf8FromUtf16(caption) + "\n" + Utf8FromUtf16(text) + PROMPT_QUESTION);
    std::string answer;
    const InputLine input = ReadInputLine(answer);
    if (input == InputLine::Interrupted) {
        // Stopped here too, so that the run ends as interrupted even while Windows has yet to
        // call the Ctrl-C handler.
        RequestRunStop();
    }
    if (input != InputLine::Read) {
        // The cursor is still behind the question.
        WriteError("\n");
        return PromptAnswer::Cancel;
    }
    const auto first = answer.find_first_not_of(" \t");
    const auto last = answer.find_last_not_of(" \t\r");
    answer = first == std::string::npos ? std::string() : answer.substr(first, last - first + 1);
    if (answer == "1") {
        return PromptAnswer::Yes;
    }
    if (answer == "2") {
        return PromptAnswer::No;
    }
    return PromptAnswer::Cancel;
}

// Nothing to enable or disable: one run is the whole process.
void EnableProgramButton(bool) {}

void ReportProgress(const TransferProgress& progress) {
    // After Ctrl-C only the exchange in progress is finished; a redraw would cover the notice.
    if (RunStopRequested()) {
        return;
    }
    const std::string text = UpdateProgress(meter, progress, NowMs());
    if (!text.empty()) {
        Write(Stream::Err, text);
    }
}

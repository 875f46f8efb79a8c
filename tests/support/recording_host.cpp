#include "tests/support/recording_host.h"

#include "sim/sim_clock.h"

namespace {
RecordingHost host;

void Record(HostEvent::Kind kind, std::u16string_view text) {
    host.events.push_back({kind, std::u16string(text), SimNow()});
}
}  // namespace

RecordingHost& TestHost() {
    return host;
}

void ResetTestHost() {
    host = RecordingHost{};
}

std::vector<std::u16string> HostTexts(HostEvent::Kind kind) {
    std::vector<std::u16string> texts;
    for (const HostEvent& event : host.events) {
        if (event.kind == kind) {
            texts.push_back(event.text);
        }
    }
    return texts;
}

void StatusLog(std::u16string_view line) {
    Record(HostEvent::Kind::Line, line);
}

void ShowError(std::u16string_view text) {
    Record(HostEvent::Kind::Error, text);
}

PromptAnswer AskRevision(std::u16string_view caption, std::u16string_view text) {
    Record(HostEvent::Kind::Prompt, std::u16string(caption) + u"|" + std::u16string(text));
    if (host.promptAnswers.empty()) {
        return PromptAnswer::Cancel;
    }
    const PromptAnswer answer = host.promptAnswers.front();
    host.promptAnswers.pop_front();
    return answer;
}

void ReportProgress(const TransferProgress& progress) {
    host.progress.push_back(progress);
}

void EnableProgramButton(bool enabled) {
    Record(enabled ? HostEvent::Kind::Enable : HostEvent::Kind::Disable, u"");
}

// The run host for native tests: records what a run shows the user and answers the revision
// prompt from the test's script.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "update/run_host.h"

struct HostEvent {
    enum class Kind { Line, Error, Prompt, Enable, Disable };
    Kind kind;
    std::u16string text;
    // Virtual time at which it happened.
    std::int64_t atNs = 0;
};

struct RecordingHost {
    std::vector<HostEvent> events;
    // Answers for the revision prompt, in order; an unscripted prompt answers Cancel.
    std::deque<PromptAnswer> promptAnswers;
    // Kept apart from the events, which tests compare whole.
    std::vector<TransferProgress> progress;
};

RecordingHost& TestHost();
void ResetTestHost();

std::vector<std::u16string> HostTexts(HostEvent::Kind kind);

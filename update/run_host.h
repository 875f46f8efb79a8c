// What an update run needs from the user interface. The Windows program serves these from its
// main window; tests record them and answer the prompt from a script.
#pragma once

#include <string_view>

enum class PromptAnswer { Yes, No, Cancel, None };

// Adds one line to the status list; lines keep the order they were added in.
void StatusLog(std::u16string_view line);

// A modal error box with an OK button, owned by the main window; returns once it is closed.
void ShowError(std::u16string_view text);

// The Yes/No/Cancel warning box asking which hardware revision the tester is. None when the
// box could not be shown.
PromptAnswer AskRevision(std::u16string_view caption, std::u16string_view text);

void EnableProgramButton(bool enabled);

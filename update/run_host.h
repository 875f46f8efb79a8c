// What an update run needs from the user interface. The Windows program serves these from its
// main window; tests record them and answer the prompt from a script.
#pragma once

#include <cstdint>
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

// How far the transfer has come: reported once before the first block and after every
// acknowledged block.
struct TransferProgress {
    std::uint32_t blocksAcknowledged = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t bytesAcknowledged = 0;
    std::uint32_t totalBytes = 0;

    // The share of the image's bytes acknowledged, in whole percent, rounded down.
    std::uint32_t Percent() const {
        return totalBytes == 0 ? 100
                               : static_cast<std::uint32_t>(std::uint64_t{bytesAcknowledged} * 100 /
                                                            totalBytes);
    }
};
void ReportProgress(const TransferProgress& progress);

// What a run needs from the user interface, served by the main window. The worker thread calls
// these; each one is a synchronous message or a message box that the system marshals to, or
// runs beside, the user-interface thread. The taskbar's progress alone goes by posted messages
// (app/taskbar_progress.h).
#include <windows.h>

#include <string>

#include "app/main_window.h"
#include "app/taskbar_progress.h"
#include "res/resource_ids.h"
#include "update/run_host.h"
#include "update/run_texts.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W functions take UTF-16 code units");

namespace {

// The W functions want a NUL-terminated string; a view carries no terminator.
std::wstring Terminated(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

}  // namespace

void StatusLog(std::u16string_view line) {
    const std::wstring text = Terminated(line);
    SendMessageW(GetDlgItem(MainWindow, IDC_STATUS_LIST), LB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(text.c_str()));
}

// Called exactly when a run fails with a message. The failure is posted before the box opens, so
// that the taskbar turns red while the box waits for OK.
void ShowError(std::u16string_view text) {
    PostRunFailed();
    const std::wstring message = Terminated(text);
    const std::wstring caption = Terminated(RunTextOf(RunText::ErrorCaption));
    MessageBoxW(MainWindow, message.c_str(), caption.c_str(), MB_OK);
}

PromptAnswer AskRevision(std::u16string_view caption, std::u16string_view text) {
    const std::wstring message = Terminated(text);
    const std::wstring title = Terminated(caption);
    switch (
        MessageBoxW(MainWindow, message.c_str(), title.c_str(), MB_YESNOCANCEL | MB_ICONWARNING)) {
        case IDYES:
            return PromptAnswer::Yes;
        case IDNO:
            return PromptAnswer::No;
        case IDCANCEL:
            return PromptAnswer::Cancel;
        default:
            // The box could not be shown at all.
            return PromptAnswer::None;
    }
}

// The window shows no progress of its own; the status lines tell the phases, and the taskbar
// button the share of the transfer done.
void ReportProgress(const TransferProgress& progress) {
    PostTransferProgress(progress);
}

// Disabling is a run's first act and enabling its last. The end is posted before PROGRAM is
// enabled, so that it is queued ahead of anything a run started by the enabled button posts.
void EnableProgramButton(bool enabled) {
    if (enabled) {
        PostRunEnded();
    } else {
        PostRunStarted();
    }
    EnableWindow(GetDlgItem(MainWindow, IDC_PROGRAM), enabled ? TRUE : FALSE);
}

// The taskbar button's progress bar: the worker's posts, and the user-interface thread's state
// and ITaskbarList3 calls.
#include "app/taskbar_progress.h"

#include <shobjidl.h>

#include <algorithm>

#include "app/main_window.h"

namespace {

// Private to the main window; the dialog manager's own messages lie below WM_APP.
constexpr UINT RUN_STARTED_MESSAGE = WM_APP + 1;
constexpr UINT TRANSFER_PROGRESS_MESSAGE = WM_APP + 2;  // wParam: the percentage, 0 to 100
constexpr UINT RUN_FAILED_MESSAGE = WM_APP + 3;
constexpr UINT RUN_ENDED_MESSAGE = WM_APP + 4;

constexpr int FULL_PERCENT = 100;
constexpr int NO_PERCENT = -1;

// --- The worker's side ---

// The percentage last posted in this run, NO_PERCENT before the first report. Only the run's
// worker thread touches it, and runs never overlap: a run resets it as its first act, and only
// its last act, after its last report, enables the PROGRAM button that starts the next one.
int postedPercent = NO_PERCENT;

// Posted, never sent: the transfer's pace must not depend on the user-interface thread or on the
// shell behind the taskbar, and the taskbar calls belong to the thread that owns the window. A
// post that fails (the window gone, its queue full) only costs the bar a step.
void Post(UINT message, WPARAM wParam = 0) {
    PostMessageW(MainWindow, message, wParam, 0);
}

// --- The user-interface thread's side: everything below runs on that thread only ---

enum class ButtonLook { Cleared, Normal, Error };

struct ButtonState {
    ButtonLook look = ButtonLook::Cleared;
    int percent = 0;
};

UINT taskbarButtonCreatedMessage = 0;
bool comInitialised = false;
// The one reference to the shell's taskbar object, released when a fresh one replaces it; the
// last one goes with the process.
ITaskbarList3* taskbar = nullptr;
ButtonState button;

// The results are not examined: a call the taskbar refuses leaves the button as it was, and
// that is nothing to tell the user about.
void ShowButtonState(HWND window) {
    ITaskbarList3* const list = taskbar;
    if (list == nullptr) {
        // No taskbar button yet, or no interface on this system: nothing is shown.
        return;
    }
    switch (button.look) {
        case ButtonLook::Cleared:
            list->SetProgressState(window, TBPF_NOPROGRESS);
            return;
        case ButtonLook::Normal:
            list->SetProgressState(window, TBPF_NORMAL);
            break;
        case ButtonLook::Error:
            list->SetProgressState(window, TBPF_ERROR);
            break;
    }
    list->SetProgressValue(window, static_cast<ULONGLONG>(button.percent), FULL_PERCENT);
}

// The documented way to the interface: create it once the shell has said that the button
// exists. The shell says so again after it restarts, when the old object serves a taskbar that
// is gone, so each time a fresh one replaces it. Any failure leaves the button without a bar.
void ConnectTaskbar(HWND window) {
    if (taskbar != nullptr) {
        taskbar->Release();
        taskbar = nullptr;
    }
    if (!comInitialised) {
        // Once for the thread, and never undone: the thread lives as long as the process.
        comInitialised =
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
        if (!comInitialised) {
            return;
        }
    }
    ITaskbarList3* list = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                reinterpret_cast<void**>(&list)))) {
        return;
    }
    if (FAILED(list->HrInit())) {
        list->Release();
        return;
    }
    taskbar = list;
    // A button made while a run is under way, or after one failed, shows where things stand.
    ShowButtonState(window);
}

}  // namespace

void PostRunStarted() {
    postedPercent = NO_PERCENT;
    Post(RUN_STARTED_MESSAGE);
}

// A report comes after every acknowledged block, hundreds of them for a large image, and the bar
// shows nothing finer than a percent. Posting only a change of the percentage keeps the window's
// queue and the taskbar's redraws to at most 101 a run, whatever the image's size.
void PostTransferProgress(const TransferProgress& progress) {
    const int percent = static_cast<int>(progress.Percent());
    if (percent == postedPercent) {
        return;
    }
    postedPercent = percent;
    Post(TRANSFER_PROGRESS_MESSAGE, static_cast<WPARAM>(percent));
}

void PostRunFailed() {
    Post(RUN_FAILED_MESSAGE);
}

void PostRunEnded() {
    Post(RUN_ENDED_MESSAGE);
}

void RegisterTaskbarButtonMessage() {
    taskbarButtonCreatedMessage = RegisterWindowMessageW(L"TaskbarButtonCreated");
    // The shell runs at medium integrity; were the program started elevated, the system would
    // otherwise keep the shell's message from reaching it. The process-wide filter, because the
    // per-window one is missing from Windows Vista, which the program still starts on.
    if (taskbarButtonCreatedMessage != 0) {
        ChangeWindowMessageFilter(taskbarButtonCreatedMessage, MSGFLT_ADD);
    }
}

bool HandleTaskbarMessage(HWND window, UINT message, WPARAM wParam) {
    // Zero when the registration failed; the message zero (WM_NULL) is not the shell's.
    if (taskbarButtonCreatedMessage != 0 && message == taskbarButtonCreatedMessage) {
        ConnectTaskbar(window);
        return true;
    }
    switch (message) {
        case RUN_STARTED_MESSAGE:
            // Clears whatever the last run left, its red bar included.
            button = ButtonState{};
            break;
        case TRANSFER_PROGRESS_MESSAGE:
            button.look = ButtonLook::Normal;
            // Whatever a message carries, the bar shows no more than full.
            button.percent = static_cast<int>(std::min<WPARAM>(wParam, FULL_PERCENT));
            break;
        case RUN_FAILED_MESSAGE:
            button.look = ButtonLook::Error;
            // A run that fails before its transfer has moved the bar (before the transfer, or
            // at its first block) would otherwise show an empty red bar, which is no bar at
            // all; a full one says that the run failed.
            if (button.percent == 0) {
                button.percent = FULL_PERCENT;
            }
            break;
        case RUN_ENDED_MESSAGE:
            // A failure stays red after the run has ended, until the next run starts: the error
            // box may have been closed long before the user looks at the taskbar, which should
            // still say that the last run failed. Every other ending (complete, Cancel) clears
            // the bar.
            if (button.look != ButtonLook::Error) {
                button = ButtonState{};
            }
            break;
        default:
            return false;
    }
    ShowButtonState(window);
    return true;
}

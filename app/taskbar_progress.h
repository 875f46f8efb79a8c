// The transfer's progress on the program's taskbar button (ITaskbarList3): a normal bar while
// blocks go out, a red one once a run has failed, none otherwise. The run's worker thread only
// posts to the main window; every taskbar call is made on the user-interface thread, which owns
// the window. A system without the interface shows nothing, and the window itself never changes.
#pragma once

#include <windows.h>

#include "update/run_host.h"

// The worker's side. Each posts one message to the main window and returns at once, so that the
// transfer never waits for the taskbar. Call them in the run's order: started, progress, failed
// (only for a run that fails with a message), ended.
void PostRunStarted();
void PostTransferProgress(const TransferProgress& progress);
void PostRunFailed();
void PostRunEnded();

// The user-interface thread's side. Registers the message the shell sends once the window's
// taskbar button exists; call it before the window is created, so that the message is known when
// the shell first sends it.
void RegisterTaskbarButtonMessage();

// Handles the shell's message and the worker's posts; false for any other message, which the
// window procedure then handles as before.
bool HandleTaskbarMessage(HWND window, UINT message, WPARAM wParam);

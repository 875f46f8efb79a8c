// A request, from outside the run, that it stop at the next point between two exchanges, such as
// a command-line user pressing Ctrl-C. The Windows program never asks. Safe to set from a signal
// handler or another thread.
#pragma once

void RequestRunStop();
bool RunStopRequested();
// Withdraws a request, before a run starts.
void ClearRunStop();

// --trace FILE: one line per frame written or received and per wait that ended without a frame,
// stamped with the milliseconds since the trace began. Buffered, so that it costs the run no
// measurable time; written out when it is closed.
#pragma once

#include <string>

// Opens (truncates) the file and starts watching the link's frames. False, with the reason in
// `error`, when the file cannot be written.
bool StartFrameTrace(const std::string& path, std::string& error);

// Stops watching and writes the rest out. Safe to call when no trace was started.
void StopFrameTrace();

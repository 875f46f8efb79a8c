// The simulated tester's log: one line per event a test looks for, written at once.
#pragma once

#include <cstdint>
#include <string>

// Appends to `path` from now on; false when it cannot be opened. Without a call, nothing is
// written.
bool OpenEventLog(const std::string& path);
void CloseEventLog();

void LogLine(const std::string& text);
// The line with the time in milliseconds in front, as the simulated FTD2XX.dll's log has it.
void LogAt(std::int64_t nowNs, const std::string& text);

#include "sim/pty/event_log.h"

#include <cstdio>

#include "sim/sim_world.h"

namespace {
std::FILE* logFile = nullptr;
}

bool OpenEventLog(const std::string& path) {
    logFile = std::fopen(path.c_str(), "a");
    return logFile != nullptr;
}

void CloseEventLog() {
    if (logFile != nullptr) {
        std::fclose(logFile);
        logFile = nullptr;
    }
}

void LogLine(const std::string& text) {
    if (logFile == nullptr) {
        return;
    }
    std::fputs(text.c_str(), logFile);
    std::fputc('\n', logFile);
    // A test reads the log while the server still runs.
    std::fflush(logFile);
}

void LogAt(std::int64_t nowNs, const std::string& text) {
    LogLine(LogTimeOf(nowNs) + " " + text);
}

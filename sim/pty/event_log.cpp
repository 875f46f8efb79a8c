#include "sim/pty/event_log.h"

#include <cstdio>

#include "sim/sim_clock.h"

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
    char time[32];
    std::snprintf(time, sizeof time, "%10.3f ", static_cast<double>(nowNs) / NS_PER_MS);
    LogLine(time + text);
}

std::string HexOf(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(count * 3);
    char hex[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += hex;
    }
    return text;
}

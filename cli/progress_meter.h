// The transfer's progress as the command line shows it. On a terminal: one line redrawn in place
// with percent, blocks, speed and time left, a few times a second at most. Elsewhere (a pipe, a
// log file): a plain line at each tenth of the way, so that a log stays short.
#pragma once

#include <cstdint>
#include <string>

#include "update/run_host.h"

enum class ProgressStyle { Redrawn, TenthLines, None };

// Redraws come at most this often; the last one always comes.
constexpr std::int64_t PROGRESS_REDRAW_INTERVAL_MS = 250;

struct ProgressMeter {
    ProgressStyle style = ProgressStyle::None;
    bool started = false;
    std::int64_t startMs = 0;
    std::int64_t lastDrawMs = 0;
    std::uint32_t tenthsShown = 0;
    // A redrawn line is on the screen without its line feed.
    bool lineOpen = false;
    std::size_t lastWidth = 0;
};

// What to write for one report at `nowMs` (any monotonic milliseconds); empty when nothing.
std::string UpdateProgress(ProgressMeter& meter, const TransferProgress& progress,
                           std::int64_t nowMs);

// The milliseconds from `startTicks` to `nowTicks` of a counter that makes `ticksPerSecond` a
// second. The span is taken first: a counter of nanoseconds since boot times 1000 overflows after
// about 106 days of uptime.
std::int64_t MillisecondsBetween(std::int64_t startTicks, std::int64_t nowTicks,
                                 std::int64_t ticksPerSecond);

// What ends an open redrawn line, so that other output starts on a line of its own.
std::string CloseProgressLine(ProgressMeter& meter);

// "1:05", "0:07", or "--:--" when there is no rate yet.
std::string FormatDuration(double seconds);
// "11.2 KiB/s", "850 B/s".
std::string FormatRate(double bytesPerSecond);

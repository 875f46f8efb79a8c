#include "cli/progress_meter.h"

#include <cmath>
#include <cstdio>

namespace {

bool Finished(const TransferProgress& p) {
    return p.blocksAcknowledged >= p.blockCount;
}

std::string RedrawnLine(ProgressMeter& meter, const TransferProgress& p, std::int64_t nowMs) {
    const double seconds = static_cast<double>(nowMs - meter.startMs) / 1000.0;
    const bool rated = seconds > 0 && p.bytesAcknowledged > 0;
    const double rate = rated ? p.bytesAcknowledged / seconds : 0;
    const double left = rated ? (p.totalBytes - p.bytesAcknowledged) / rate : -1;
    char text[128];
    std::snprintf(text, sizeof text, "%3u%%  %u/%u blocks  %s  %s left", p.Percent(),
                  p.blocksAcknowledged, p.blockCount, rated ? FormatRate(rate).c_str() : "--",
                  FormatDuration(left).c_str());
    std::string line = "\r";
    line += text;
    // Blanks over whatever a longer line before left on the screen.
    const std::size_t width = line.size() - 1;
    if (width < meter.lastWidth) {
        line.append(meter.lastWidth - width, ' ');
    }
    meter.lastWidth = width;
    meter.lineOpen = true;
    if (Finished(p)) {
        line += '\n';
        meter.lineOpen = false;
    }
    return line;
}

}  // namespace

std::string FormatDuration(double seconds) {
    if (!(seconds >= 0) || !std::isfinite(seconds)) {
        return "--:--";
    }
    const auto whole = static_cast<long long>(std::ceil(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

std::string FormatRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024);
    } else {
        std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    }
    return text;
}

std::int64_t MillisecondsBetween(std::int64_t startTicks, std::int64_t nowTicks,
                                 std::int64_t ticksPerSecond) {
    return (nowTicks - startTicks) * 1000 / ticksPerSecond;
}

std::string UpdateProgress(ProgressMeter& meter, const TransferProgress& progress,
                           std::int64_t nowMs) {
    if (meter.style == ProgressStyle::None) {
        return {};
    }
    const bool first = !meter.started;
    if (first) {
        meter.started = true;
        meter.startMs = nowMs;
        meter.tenthsShown = 0;
    }
    if (meter.style == ProgressStyle::TenthLines) {
        const std::uint32_t tenths = progress.Percent() / 10;
        if (tenths <= meter.tenthsShown) {
            return {};
        }
        meter.tenthsShown = tenths;
        char text[96];
        std::snprintf(text, sizeof text, "progress: %u%% (%u of %u blocks)\n", tenths * 10,
                      progress.blocksAcknowledged, progress.blockCount);
        return text;
    }
    if (!first && !Finished(progress) && nowMs - meter.lastDrawMs < PROGRESS_REDRAW_INTERVAL_MS) {
        return {};
    }
    meter.lastDrawMs = nowMs;
    return RedrawnLine(meter, progress, nowMs);
}

std::string CloseProgressLine(ProgressMeter& meter) {
    if (!meter.lineOpen) {
        return {};
    }
    meter.lineOpen = false;
    return "\n";
}

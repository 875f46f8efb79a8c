#include "cli/frame_trace_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/clock.h"
#include "link/frame_codec.h"
#include "link/frame_trace.h"

#if defined(_WIN32)
#include "cli/text_encoding.h"
#endif

namespace {

std::FILE* traceFile = nullptr;
std::int64_t startTicks = 0;
std::int64_t ticksPerSecond = 1;
// Large enough that a whole run of a few hundred blocks is written in a handful of calls.
constexpr std::size_t TRACE_BUFFER_BYTES = 1 << 16;

void TraceFrame(FrameEvent event, const std::uint8_t* bytes, std::size_t length,
                std::uint32_t timeoutMs) {
    const std::int64_t ticks = ClockTicks() - startTicks;
    const double ms = static_cast<double>(ticks) * 1000.0 / static_cast<double>(ticksPerSecond);
    if (event == FrameEvent::NoFrame) {
        std::fprintf(traceFile, "%10.3f -- no frame within %u ms\n", ms, timeoutMs);
        return;
    }
    std::fprintf(traceFile, "%10.3f %s", ms, event == FrameEvent::Written ? ">>" : "<<");
    static constexpr char HEX[] = "0123456789ABCDEF";
    // Three characters for each byte of the largest frame, and the line feed.
    char hex[3 * FRAME_BUFFER_SIZE + 2];
    std::size_t at = 0;
    for (std::size_t i = 0; i < length && at + 4 < sizeof hex; ++i) {
        hex[at++] = ' ';
        hex[at++] = HEX[bytes[i] >> 4];
        hex[at++] = HEX[bytes[i] & 0x0F];
    }
    hex[at++] = '\n';
    std::fwrite(hex, 1, at, traceFile);
}

// The path is UTF-8; Windows would read a narrow one in its ANSI code page.
std::FILE* OpenForWriting(const std::string& path) {
#if defined(_WIN32)
    const std::u16string wide = Utf16FromUtf8(path);
    return _wfopen(reinterpret_cast<const wchar_t*>(wide.c_str()), L"w");
#else
    return std::fopen(path.c_str(), "w");
#endif
}

}  // namespace

bool StartFrameTrace(const std::string& path, std::string& error) {
    traceFile = OpenForWriting(path);
    if (traceFile == nullptr) {
        error = "cannot write the trace file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::setvbuf(traceFile, nullptr, _IOFBF, TRACE_BUFFER_BYTES);
    ticksPerSecond = ClockTicksPerSecond();
    startTicks = ClockTicks();
    WatchFrames(TraceFrame);
    return true;
}

void StopFrameTrace() {
    WatchFrames(nullptr);
    if (traceFile != nullptr) {
        std::fclose(traceFile);
        traceFile = nullptr;
    }
}

#include "link/frame_codec.h"

#include <cstring>

#include "link/clock.h"
#include "link/d2xx.h"
#include "link/frame_trace.h"
#include "link/tester_link.h"

namespace {

// Every request frame is assembled here; only SendFrame writes it.
std::uint8_t transmitBuffer[TRANSMIT_BUFFER_SIZE];

FrameWatcher frameWatcher = nullptr;

void Watch(FrameEvent event, const std::uint8_t* bytes, std::size_t length,
           std::uint32_t timeoutMs) {
    if (frameWatcher != nullptr) {
        frameWatcher(event, bytes, length, timeoutMs);
    }
}

// Milliseconds since `start`, by the performance-counter arithmetic: whole microseconds,
// truncated, as a double. Split so that long waits cannot overflow the multiplication.
double ElapsedMilliseconds(std::int64_t start, std::int64_t ticksPerSecond) {
    const std::int64_t ticks = ClockTicks() - start;
    const std::int64_t micros =
        (ticks / ticksPerSecond) * 1000000 + (ticks % ticksPerSecond) * 1000000 / ticksPerSecond;
    return static_cast<double>(micros) / 1000.0;
}

// The read's status is not examined: a failed read returns no bytes, like a silent line.
std::uint32_t ReadBytes(std::uint8_t* destination, std::uint32_t count) {
    std::uint32_t returned = 0;
    FT_Read(TesterLink, destination, count, &returned);
    return returned;
}

}  // namespace

void WatchFrames(FrameWatcher watcher) {
    frameWatcher = watcher;
}

std::size_t EncodeFrame(const std::uint8_t* payload, std::size_t length, std::uint8_t* out) {
    if (length > MAX_REQUEST_PAYLOAD) {
        return 0;
    }
    out[0] = FRAME_STX;
    out[1] = static_cast<std::uint8_t>(length);
    if (length > 0) {
        std::memcpy(out + 2, payload, length);
    }
    out[length + 2] = 0;
    out[length + 3] = FRAME_ETX;
    std::uint8_t checksum = 0;
    for (std::size_t i = 0; i < length + FRAME_OVERHEAD; ++i) {
        checksum ^= out[i];
    }
    out[length + 2] = checksum;
    return length + FRAME_OVERHEAD;
}

void SendFrame(const std::uint8_t* payload, std::size_t length) {
    const std::size_t frameLength = EncodeFrame(payload, length, transmitBuffer);
    if (frameLength == 0) {
        return;
    }
    // Neither the status nor the count written is examined: a write that failed or fell short is
    // noticed only through the reply that then does not come, and is handled as a lost reply is,
    // by whatever the waiting exchange does then (a resend, or the run's ending).
    std::uint32_t written = 0;
    FT_Write(TesterLink, transmitBuffer, static_cast<std::uint32_t>(frameLength), &written);
    Watch(FrameEvent::Written, transmitBuffer, frameLength, 0);
}

bool ReceiveFrame(FrameBuffer& frame, std::uint32_t timeoutMs) {
    const std::int64_t ticksPerSecond = ClockTicksPerSecond();
    const std::int64_t start = ClockTicks();
    const double deadlineMs = static_cast<double>(timeoutMs);
    FT_SetTimeouts(TesterLink, timeoutMs, timeoutMs);

    const auto pastDeadline = [&] {
        return ElapsedMilliseconds(start, ticksPerSecond) > deadlineMs;
    };

    std::uint8_t* const b = frame.bytes;
    for (;;) {
        if (ReadBytes(&b[0], 1) != 1) {
            if (pastDeadline()) {
                Watch(FrameEvent::NoFrame, nullptr, 0, timeoutMs);
                return false;
            }
            SleepMilliseconds(EMPTY_READ_PAUSE_MS);
            continue;
        }
        // Bytes ahead of STX are dropped one at a time with no pause; a frame cut short in its
        // length or body is dropped and the hunt goes on with whatever arrives next.
        const bool wholeFrame = b[0] == FRAME_STX && ReadBytes(&b[1], 1) == 1 &&
                                ReadBytes(&b[2], b[1] + 2u) == b[1] + 2u;
        if (wholeFrame) {
            Watch(FrameEvent::Received, b, b[1] + FRAME_OVERHEAD, 0);
            return true;
        }
        // Tested here too, so that a line that keeps sending without ever completing a frame
        // cannot hold the caller past its deadline.
        if (pastDeadline()) {
            Watch(FrameEvent::NoFrame, nullptr, 0, timeoutMs);
            return false;
        }
    }
}

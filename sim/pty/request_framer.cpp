#include "sim/pty/request_framer.h"

#include "sim/serial_line.h"

std::vector<RequestFrame> FeedFramer(RequestFramer& framer, const std::uint8_t* bytes,
                                     std::size_t count, std::int64_t now) {
    std::vector<RequestFrame> frames;
    for (std::size_t i = 0; i < count; ++i) {
        if (framer.pending.empty()) {
            if (bytes[i] != TESTER_STX) {
                continue;
            }
            framer.startedAt = now;
        }
        framer.pending.push_back(bytes[i]);
        if (framer.pending.size() >= 2 &&
            framer.pending.size() == framer.pending[1] + TESTER_FRAME_OVERHEAD) {
            frames.push_back({std::move(framer.pending), framer.startedAt});
            framer.pending.clear();
        }
    }
    return frames;
}

void ResetFramer(RequestFramer& framer) {
    framer.pending.clear();
}

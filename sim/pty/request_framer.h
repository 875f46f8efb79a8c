// Cuts the byte stream the PC writes into its request frames, so that the line model hears each
// frame as one request, as it does from one device-library write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct RequestFramer {
    std::vector<std::uint8_t> pending;
    // When the first byte of the pending frame came.
    std::int64_t startedAt = 0;
};

struct RequestFrame {
    std::vector<std::uint8_t> bytes;
    std::int64_t startedAt = 0;
};

// Takes `count` bytes that came at `now`; returns the frames they complete. Bytes ahead of an
// STX belong to no frame and are dropped, as the tester's receiver drops them.
std::vector<RequestFrame> FeedFramer(RequestFramer& framer, const std::uint8_t* bytes,
                                     std::size_t count, std::int64_t now);

// Forgets a frame begun: the PC discarded what it had not yet sent.
void ResetFramer(RequestFramer& framer);

// A window on the frames as they cross the link, for a front end that keeps a trace. Nothing
// watches unless a front end asks; the Windows program never does.
#pragma once

#include <cstddef>
#include <cstdint>

enum class FrameEvent {
    Written,   // a request frame, as written to the link
    Received,  // a whole reply frame, as read
    NoFrame,   // a wait for a reply ended without one
};

// Called on the run's thread with the frame's bytes (none for NoFrame) and, for NoFrame, the
// wait that ran out. It must not touch the link.
using FrameWatcher = void (*)(FrameEvent event, const std::uint8_t* bytes, std::size_t length,
                              std::uint32_t timeoutMs);

// Null stops watching.
void WatchFrames(FrameWatcher watcher);

// The core's clock on Linux: the monotonic clock in nanoseconds, and pauses that a signal does
// not shorten.
#include <time.h>

#include <cerrno>

#include "link/clock.h"
#include "linux/monotonic_time.h"

std::int64_t ClockTicks() {
    return MonotonicNs();
}

std::int64_t ClockTicksPerSecond() {
    return MONOTONIC_NS_PER_S;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
    const timespec until =
        TimespecOfNs(MonotonicNs() + static_cast<std::int64_t>(milliseconds) * MONOTONIC_NS_PER_MS);
    // Up to an absolute time, so that sleeping on after a signal keeps the original end.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

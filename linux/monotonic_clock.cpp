// The core's clock on Linux: the monotonic clock in nanoseconds, and pauses that a signal does
// not shorten.
#include <time.h>

#include <cerrno>

#include "link/clock.h"

namespace {
constexpr std::int64_t NS_PER_S = 1'000'000'000;
constexpr long NS_PER_MS = 1'000'000;
}  // namespace

std::int64_t ClockTicks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

std::int64_t ClockTicksPerSecond() {
    return NS_PER_S;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += static_cast<time_t>(milliseconds / 1000);
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * NS_PER_MS;
    if (until.tv_nsec >= NS_PER_S) {
        until.tv_sec += 1;
        until.tv_nsec -= NS_PER_S;
    }
    // Up to an absolute time, so that sleeping on after a signal keeps the original end.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

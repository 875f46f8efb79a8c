// The monotonic clock in nanoseconds, and nanosecond times as the timespec that the kernel's
// waits take: the one reading of the clock for the Linux seams. The constants carry a prefix of
// their own, apart from the simulator's NS_PER_MS and NS_PER_S (sim/sim_clock.h).
#pragma once

#include <time.h>

#include <cstdint>

constexpr std::int64_t MONOTONIC_NS_PER_MS = 1'000'000;
constexpr std::int64_t MONOTONIC_NS_PER_S = 1'000'000'000;

inline std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * MONOTONIC_NS_PER_S + now.tv_nsec;
}

// A span, or a time on the monotonic clock, of `ns` nanoseconds (not negative).
inline timespec TimespecOfNs(std::int64_t ns) {
    return timespec{static_cast<time_t>(ns / MONOTONIC_NS_PER_S),
                    static_cast<long>(ns % MONOTONIC_NS_PER_S)};
}

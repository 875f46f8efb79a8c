// The core's clock seam on Linux: nanosecond ticks that never go back, and pauses that a
// signal does not shorten.
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "link/clock.h"
#include "tests/linux/interrupting_signal.h"

namespace {

TEST(MonotonicClock, CountsNanosecondsForward) {
    EXPECT_EQ(ClockTicksPerSecond(), 1'000'000'000);
    const std::int64_t first = ClockTicks();
    SleepMilliseconds(5);
    EXPECT_GE(ClockTicks() - first, 5'000'000);
}

TEST(MonotonicClock, APauseLastsItsLengthThoughASignalInterruptsIt) {
    const InterruptingSignal signal;
    const pthread_t sleeper = pthread_self();
    std::thread interrupter([sleeper] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        pthread_kill(sleeper, SIGUSR1);
    });
    constexpr std::uint32_t PAUSE_MS = 200;
    const auto start = std::chrono::steady_clock::now();
    SleepMilliseconds(PAUSE_MS);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    interrupter.join();
    EXPECT_EQ(signal.Caught(), 1);
    EXPECT_GE(elapsed, std::chrono::milliseconds(PAUSE_MS));
}

}  // namespace

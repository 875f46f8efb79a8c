// The core's clock seam on Linux: nanosecond ticks that never go back, and pauses that a
// signal does not shorten.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "link/clock.h"

namespace {

std::atomic<int> pausesInterrupted{0};
void CountSignal(int) {
    pausesInterrupted.fetch_add(1);
}

TEST(MonotonicClock, CountsNanosecondsForward) {
    EXPECT_EQ(ClockTicksPerSecond(), 1'000'000'000);
    const std::int64_t first = ClockTicks();
    SleepMilliseconds(5);
    EXPECT_GE(ClockTicks() - first, 5'000'000);
}

TEST(MonotonicClock, APauseLastsItsLengthThoughASignalInterruptsIt) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = CountSignal;
    action.sa_flags = 0;  // no SA_RESTART, as the front end's Ctrl-C handler
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &previous);
    pausesInterrupted = 0;
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
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(pausesInterrupted.load(), 1);
    EXPECT_GE(elapsed, std::chrono::milliseconds(PAUSE_MS));
}

}  // namespace

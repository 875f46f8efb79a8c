// The simulated tester's sense of time, in nanoseconds. The native build links a virtual clock
// that jumps straight to the moment waited for; the FTD2XX.dll build links the real clock.
#pragma once

#include <cstdint>

constexpr std::int64_t NS_PER_US = 1000;
constexpr std::int64_t NS_PER_MS = 1000 * NS_PER_US;
constexpr std::int64_t NS_PER_S = 1000 * NS_PER_MS;

std::int64_t SimNow();
// Returns at `time`, or at once when it has passed.
void SimWaitUntil(std::int64_t time);

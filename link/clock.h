// The monotonic clock the link measures its deadlines with, and the pause between reads. The
// Windows program uses the performance counter and Sleep; the native build uses the simulated
// tester's virtual clock, so that waits of seconds take no time and repeat exactly.
#pragma once

#include <cstdint>

// Ticks of a monotonic counter, and how many ticks make one second.
std::int64_t ClockTicks();
std::int64_t ClockTicksPerSecond();

void SleepMilliseconds(std::uint32_t milliseconds);

// The link's clock in the native build: the simulator's virtual time, so that the updater's own
// sleeps and deadlines run on the same clock as the simulated tester.
#include "link/clock.h"
#include "sim/sim_clock.h"

std::int64_t ClockTicks() {
    return SimNow();
}

std::int64_t ClockTicksPerSecond() {
    return NS_PER_S;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
    SimWaitUntil(SimNow() + static_cast<std::int64_t>(milliseconds) * NS_PER_MS);
}

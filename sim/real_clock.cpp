// Wall-clock time for the simulated tester when it stands in for FTD2XX.dll.
#include <chrono>
#include <thread>

#include "sim/sim_clock.h"

namespace {
const auto origin = std::chrono::steady_clock::now();
}

std::int64_t SimNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                origin)
        .count();
}

void SimWaitUntil(std::int64_t time) {
    std::this_thread::sleep_until(origin + std::chrono::nanoseconds(time));
}

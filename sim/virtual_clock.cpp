#include "sim/virtual_clock.h"

#include "sim/sim_clock.h"

namespace {
std::int64_t virtualNow = 0;
}

void ResetVirtualClock() {
    virtualNow = 0;
}

std::int64_t SimNow() {
    return virtualNow;
}

void SimWaitUntil(std::int64_t time) {
    if (time > virtualNow) {
        virtualNow = time;
    }
}

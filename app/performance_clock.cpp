// The link's clock on Windows: the high-resolution performance counter, and Sleep.
#include <windows.h>

#include "link/clock.h"

std::int64_t ClockTicks() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

std::int64_t ClockTicksPerSecond() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

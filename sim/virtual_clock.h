// Deterministic simulated time for native tests and benchmarks.
#pragma once

#include <cstdint>

// Sets virtual time back to zero.
void ResetVirtualClock();

// The one simulated world of the native tests, the fault sweep, the soak, the fuzz target and the
// benchmark: the simulated devices and tester line, the virtual clock, the device-library call
// log and its observer, the recording host, the in-memory firmware folder, and the core's
// process-wide link and image buffer. Free of GoogleTest, so that every one of them can use it.
#pragma once

#include <cstdint>

#include "sim/sim_world.h"

// The frames a run against a tester in its firmware writes, as faults number them, when no
// exchange before is sent again: identify, the switch to the bootloader, the start, the
// readiness query, then the blocks.
inline constexpr std::uint32_t IDENTIFY_EXCHANGE = 0;
inline constexpr std::uint32_t SWITCH_EXCHANGE = 1;
inline constexpr std::uint32_t START_EXCHANGE = 2;
inline constexpr std::uint32_t READY_EXCHANGE = 3;
inline constexpr std::uint32_t FIRST_BLOCK_EXCHANGE = 4;

// Everything as at the start of a process: the virtual clock at zero, the scenario's devices,
// tester and faults in place with an empty call log and no observer, no link open, no image
// buffer, no request that the run stop and no frame watcher, an empty status list and no prompt
// answers, and an empty firmware folder beside the executable.
void ResetTestWorld(const SimScenario& scenario = SimScenario{});

// What changes outside the updater when the user replugs: the virtual clock at zero, the
// scenario's devices and tester line with an empty call log, and the firmware folder emptied.
// The status list and the link the last run left open stay, as they do in the program between
// runs, for the next run's discovery to close; so does the call observer.
void ReplugTestWorld(const SimScenario& scenario);

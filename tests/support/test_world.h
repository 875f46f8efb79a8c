// The one simulated world of the native tests, the fault sweep, the soak, the fuzz target and the
// benchmark: the simulated devices and tester line, the virtual clock, the device-library call
// log and its observer, the recording host, the in-memory firmware folder, and the core's
// process-wide link and image buffer. Free of GoogleTest, so that every one of them can use it.
#pragma once

#include "sim/sim_world.h"

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

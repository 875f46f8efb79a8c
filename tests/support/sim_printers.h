// The simulator's scenario as GoogleTest prints it in a failed comparison: every field by name,
// so that a whole-struct check says which field differs.
#pragma once

#include <ostream>

#include "sim/sim_world.h"

void PrintTo(const SimDevice& device, std::ostream* os);
void PrintTo(const LineFault& fault, std::ostream* os);
void PrintTo(const SimScenario& scenario, std::ostream* os);

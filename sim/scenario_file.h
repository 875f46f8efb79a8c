// The scenario file of the simulated FTD2XX.dll: which FTDI devices are attached, how the tester
// behind one of them acts, how the line is timed and which exchanges go wrong. A small line-based
// key = value text, described in sim/dll/README.md. Portable, so that the native tests check it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/sim_world.h"

// The scenario the text describes, every key not named keeping the simulator's default. On the
// first bad line: none, and `error` says which line and why ("line 3: ...").
std::optional<SimScenario> ParseScenarioText(std::string_view text, std::string& error);

// Reads the file at `path` and parses it; a file that cannot be read is an error too.
std::optional<SimScenario> ReadScenarioFile(const std::string& path, std::string& error);

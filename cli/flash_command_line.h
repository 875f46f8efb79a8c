// What the user asked for on the command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class FlashCommand { List, Info, Program };

struct FlashOptions {
    FlashCommand command = FlashCommand::List;
    std::string serial;
    std::optional<int> revision;
    std::optional<std::string> firmwareDirectory;
    std::optional<std::string> traceFile;
    bool quiet = false;
};

// Parses the arguments (UTF-8, program name first). Returns the exit code when the program is
// done without running a command: 0 after --help or --version, 2 after a bad argument, with
// what to say in `out` (standard output) or `err` (standard error).
std::optional<int> ParseFlashArguments(const std::vector<std::string>& arguments,
                                       FlashOptions& options, std::string& out, std::string& err);

// The synopsis lines of --help.
std::string FlashUsage(const std::string& programName);

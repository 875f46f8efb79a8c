// The three commands of the command-line updater; each returns the program's exit code.
#pragma once

#include "cli/flash_command_line.h"

int ListTesters();
int ShowTesterInfo(const FlashOptions& options);
int ProgramTester(const FlashOptions& options);

// The command line's own words: what it says beyond the texts the update run shares with the
// Windows program (update/run_texts.h), which it prints as they stand.
#pragma once

#include <cstdint>
#include <string>

#include "update/update_run.h"

// The program's name, as the user types it and as its messages name it.
inline constexpr char PROGRAM_NAME[] = "vivad-flash";

inline constexpr char NO_TERMINAL_FOR_PROMPT[] =
    "Hardware revision unknown: pass --revision 1 or 2.";
inline constexpr char PROMPT_CANCELLED[] = "Cancelled: nothing was changed on the tester.";
inline constexpr char PROMPT_QUESTION[] =
    "Type 1 for revision 1 (YES), 2 for revision 2 (NO), anything else to cancel: ";
inline constexpr char STOPPING[] =
    "\nStopping after the exchange in progress (Ctrl-C again to quit at once).\n";

// "1", "2": the revision as the user names it.
int UserRevision(HardwareRevision revision);

// The command that finishes an update once the tester waits in its bootloader: the revision
// the run used, and the serial number only when the user named one.
std::string FinishCommand(const std::string& programName, const std::string& serial,
                          HardwareRevision revision);

// After a run stopped by Ctrl-C: where the tester stands and how to finish.
std::string InterruptedText(const RunReport& report, const std::string& finishCommand);

// A run that failed after the tester went into its bootloader: how to finish; empty otherwise.
std::string LeftInBootloaderText(const RunReport& report, const std::string& finishCommand);

// The tester's report against the user's --revision.
std::string ContradictionText(const RunReport& report, HardwareRevision given);

std::string OpenFailedText(const std::string& serial, const std::string& reason);

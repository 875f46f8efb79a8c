#include "cli/flash_texts.h"

#include "update/tester_commands.h"

namespace {

// Either way the revision is settled, and so the command that finishes the update is known.
bool InBootloader(const RunReport& report) {
    // A revision taken from the prompt means identify got a bootloader's answer.
    return report.bootloaderEntered || report.RevisionFromPrompt();
}

}  // namespace

int UserRevision(HardwareRevision revision) {
    return revision == REVISION_2_CODE ? 2 : 1;
}

std::string FinishCommand(const std::string& programName, const std::string& serial,
                          HardwareRevision revision) {
    std::string command = programName + " program";
    if (!serial.empty()) {
        command += " --serial " + serial;
    }
    return command + " --revision " + std::to_string(UserRevision(revision));
}

std::string InterruptedText(const RunReport& report, const std::string& finishCommand) {
    if (!InBootloader(report)) {
        return "Interrupted before anything was changed on the tester.";
    }
    return "Interrupted. The tester stays in its bootloader, which cannot tell its revision;\n"
           "finish the update with: " +
           finishCommand;
}

std::string LeftInBootloaderText(const RunReport& report, const std::string& finishCommand) {
    if (!InBootloader(report)) {
        return {};
    }
    return "The tester stays in its bootloader; once the cause is mended, finish with: " +
           finishCommand;
}

std::string ContradictionText(const RunReport& report, HardwareRevision given) {
    std::string reported =
        report.probeAnswered
            ? std::string("hardware revision 1 (it answers the revision-1 probe)")
            : "hardware revision " + std::to_string(UserRevision(report.revision)) + " (code " +
                  std::to_string(report.hardwareCode) + ")";
    return "The tester reports " + reported + ", but --revision " +
           std::to_string(UserRevision(given)) +
           " was given. Nothing was changed on the tester; check the label on its back.";
}

std::string OpenFailedText(const std::string& serial, const std::string& reason) {
    return "The tester " + serial + " could not be opened: " + reason;
}

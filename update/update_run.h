// One update run, from discovery to the last acknowledged block, on the worker thread that the
// PROGRAM command starts, or in the command-line updater's process.
#pragma once

#include <optional>
#include <string>

#include "link/frame_codec.h"
#include "update/run_ending.h"
#include "update/tester_commands.h"

// What a front end may ask of a run beyond the Windows program's plain PROGRAM.
struct RunRequest {
    // The tester's full serial number; empty: the single attached tester.
    std::string serial;
    // The revision the user says the tester is (REVISION_1_CODE or REVISION_2_CODE). A tester
    // that reports the other one ends the run before its bootloader is entered.
    std::optional<HardwareRevision> expectedRevision;
    // Where the firmware files lie, separator included at its end; none: beside the executable.
    std::optional<std::u16string> firmwareFolder;
};

// What the run learnt on its way, for a front end that explains an ending further.
struct RunReport {
    // The tester found, opened or not; empty when none was found.
    std::string serial;
    // The tester's own answer: a 3-byte identify reply, or the revision-1 probe.
    bool revisionReported = false;
    std::uint8_t hardwareCode = 0;
    bool probeAnswered = false;
    // The revision settled for the image, by the tester or in the prompt.
    bool revisionSettled = false;
    HardwareRevision revision = 0;
    // The command to switch to the bootloader has gone out.
    bool bootloaderEntered = false;

    // A revision the tester did not report came from the prompt: identify got another answer,
    // the kind a bootloader gives.
    bool RevisionFromPrompt() const { return revisionSettled && !revisionReported; }
};

// How identification settled the tester's revision, or how it ended the run.
struct Identification {
    bool endsRun = false;
    RunEnding ending = RunEnding::Cancelled;
    HardwareRevision revision = 0;
    // After a reply to identify or probe: the tester still runs its firmware.
    bool enterBootloader = false;
};

// Runs every phase and leaves through EndRun; returns the ending for the caller's record.
RunEnding UpdateRun();
RunEnding UpdateRun(const RunRequest& request, RunReport& report);

Identification IdentifyTester(FrameBuffer& frame);
void EnterBootloader(FrameBuffer& frame);

// The run's one exit: shows the ending's message if it has one, frees the image and enables
// PROGRAM again.
void EndRun(RunEnding ending);

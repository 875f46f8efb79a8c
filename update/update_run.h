// One update run, from discovery to the last acknowledged block, on the worker thread that the
// PROGRAM command starts.
#pragma once

#include "link/frame_codec.h"
#include "update/firmware_path.h"
#include "update/run_ending.h"

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

Identification IdentifyTester(FrameBuffer& frame);
void EnterBootloader(FrameBuffer& frame);

// The run's one exit: shows the ending's message if it has one, frees the image and enables
// PROGRAM again.
void EndRun(RunEnding ending);

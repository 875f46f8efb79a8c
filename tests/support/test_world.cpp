#include "tests/support/test_world.h"

#include "link/frame_trace.h"
#include "link/tester_link.h"
#include "sim/virtual_clock.h"
#include "tests/support/memory_firmware_folder.h"
#include "tests/support/recording_host.h"
#include "update/firmware_image.h"
#include "update/run_stop.h"

void ReplugTestWorld(const SimScenario& scenario) {
    ResetVirtualClock();
    ResetTestFolder();
    StartScenario(scenario);
}

void ResetTestWorld(const SimScenario& scenario) {
    ObserveSimCalls(nullptr);
    ReplugTestWorld(scenario);
    ResetTestHost();
    TesterLink = nullptr;
    FreeFirmwareImage();
    ClearRunStop();
    WatchFrames(nullptr);
}

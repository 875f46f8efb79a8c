// Whole update runs against the simulated tester (tests/support/sim_fixture.h), with both
// firmware files beside the executable and a scenario each test may change before its run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tests/support/sim_fixture.h"
#include "update/update_run.h"

class RunFixture : public SimFixture {
  public:
    // Public, for the tables of cases beside the tests. Files of different lengths, so that
    // the tester's verdict tells which one it was sent.
    static constexpr std::size_t REVISION_1_FILE_LENGTH = 1000;
    static constexpr std::size_t REVISION_2_FILE_LENGTH = 2000;

  protected:
    void SetUp() override {
        SimFixture::SetUp();
        PutFirmwareFile(u"VIVAD-h1.0.bin", PatternBytes(REVISION_1_FILE_LENGTH, 1));
        PutFirmwareFile(u"VIVAD-h2.0.bin", PatternBytes(REVISION_2_FILE_LENGTH, 2));
    }

    // Attaches the scenario's devices and runs as the Windows program's PROGRAM does.
    RunEnding Run() {
        StartScenario(scenario_);
        return UpdateRun();
    }

    // The same, with what a front end other than the window may ask; the report is kept.
    RunEnding Run(const RunRequest& request) {
        StartScenario(scenario_);
        return UpdateRun(request, report_);
    }

    // Length of the file whose image the tester received; 0 when it received none whole.
    static std::size_t ProgrammedFileLength() {
        const ProgrammedImage& image = SimTester().image;
        if (!image.complete || !image.crcGood) {
            return 0;
        }
        return image.announcedLength - 4;
    }

    SimScenario scenario_;
    RunReport report_;
};

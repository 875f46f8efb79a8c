// A fresh simulated world for each test (tests/support/test_world.h): virtual clock at zero, the
// default tester attached, no link open, no image, an empty status list and firmware folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "link/tester_discovery.h"
#include "link/tester_link.h"
#include "sim/sim_clock.h"
#include "sim/sim_world.h"
#include "tests/support/memory_firmware_folder.h"
#include "tests/support/pattern_bytes.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_world.h"
#include "update/firmware_image.h"

class SimFixture : public ::testing::Test {
  protected:
    void SetUp() override { ResetTestWorld(); }

    void TearDown() override { FreeFirmwareImage(); }

    // Attaches the scenario's devices and opens the tester, as a run's discovery does.
    void StartAndOpen(const SimScenario& scenario) {
        StartScenario(scenario);
        ASSERT_EQ(FindAndOpenTester(), TesterSearchResult::TesterOpened);
    }

    // The payloads of the frames the PC has written, in order.
    static std::vector<std::vector<std::uint8_t>> SentPayloads() {
        std::vector<std::vector<std::uint8_t>> payloads;
        for (const auto& frame : SimWrittenFrames()) {
            payloads.emplace_back(frame.begin() + 2, frame.end() - 2);
        }
        return payloads;
    }

    static std::vector<std::uint8_t> SentOpcodes() {
        std::vector<std::uint8_t> opcodes;
        for (const auto& payload : SentPayloads()) {
            opcodes.push_back(payload.empty() ? 0 : payload[0]);
        }
        return opcodes;
    }

    static int SentCount(std::uint8_t opcode) {
        int count = 0;
        for (auto op : SentOpcodes()) {
            count += op == opcode ? 1 : 0;
        }
        return count;
    }

    static double NowMs() { return static_cast<double>(SimNow()) / NS_PER_MS; }
};

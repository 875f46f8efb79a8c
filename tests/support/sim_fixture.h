// A fresh simulated world for each test: virtual clock at zero, the scenario's devices attached,
// no link open, no image, an empty status list and firmware folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "link/tester_discovery.h"
#include "link/tester_link.h"
#include "sim/sim_clock.h"
#include "sim/sim_world.h"
#include "sim/virtual_clock.h"
#include "tests/support/memory_firmware_folder.h"
#include "tests/support/recording_host.h"
#include "update/firmware_image.h"

class SimFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetVirtualClock();
        ResetTestHost();
        ResetTestFolder();
        TesterLink = nullptr;
        FreeFirmwareImage();
    }

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

// A firmware file's worth of deterministic bytes.
std::vector<std::uint8_t> PatternBytes(std::size_t count, std::uint8_t seed = 1);

// A fresh simulated world for each test (tests/support/test_world.h): virtual clock at zero, the
// default tester attached, no link open, no image, an empty status list and firmware folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
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

    // The logged calls to one device-library function, in order.
    static std::vector<const SimCall*> Calls(std::string_view function) {
        std::vector<const SimCall*> calls;
        for (const SimCall& call : SimCallLog()) {
            if (call.function == function) {
                calls.push_back(&call);
            }
        }
        return calls;
    }

    // The serial numbers the PC asked to open, in order.
    static std::vector<std::string> OpenedSerials() {
        std::vector<std::string> serials;
        for (const SimCall* open : Calls("FT_OpenEx")) {
            serials.emplace_back(open->bytes.begin(), open->bytes.end());
        }
        return serials;
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

// Makes the request'th frame the PC writes, counted from 0 over the whole scenario, meet a fault
// on the line; `lateByNs` matters to a late reply only.
inline void AddFault(SimScenario& scenario, std::uint32_t request, FaultKind kind,
                     std::int64_t lateByNs = LineFault{}.lateByNs) {
    scenario.faults.emplace(request, LineFault{.kind = kind, .lateByNs = lateByNs});
}

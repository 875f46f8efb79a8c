// A whole run as a user would see it: one tester at 115200 baud 8N1 behind a chip with a 16 ms
// latency timer, programmed with a 64 KiB image.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/sim_fixture.h"
#include "update/run_texts.h"
#include "update/update_run.h"

namespace {

class ProgrammingScenarioTest : public SimFixture {};

TEST_F(ProgrammingScenarioTest, Programs64KiBEndToEndWithRealisticTiming) {
    const std::vector<std::uint8_t> file = PatternBytes(64 * 1024, 9);
    PutFirmwareFile(u"VIVAD-h2.0.bin", file);
    SimScenario scenario;
    scenario.timing = LineTiming{};  // 115200 baud, 10 bits a byte, 16 ms latency
    scenario.tester.answerNs = 1 * NS_PER_MS;
    StartScenario(scenario);

    ASSERT_EQ(UpdateRun(), RunEnding::ProgrammingComplete);

    std::vector<std::uint8_t> expected = file;
    expected.resize(file.size() + 5);
    const std::uint32_t total =
        CompleteFirmwareImage(expected.data(), static_cast<std::uint32_t>(file.size()));
    expected.resize(total);
    const ProgrammedImage& held = SimTester().image;
    EXPECT_TRUE(held.complete);
    EXPECT_TRUE(held.crcGood);
    EXPECT_EQ(held.received, expected);

    const auto& events = TestHost().events;
    std::int64_t burning = 0;
    std::int64_t complete = 0;
    for (const HostEvent& event : events) {
        if (event.text == RunTextOf(RunText::BurningLine))
            burning = event.atNs;
        if (event.text == RunTextOf(RunText::CompleteLine))
            complete = event.atNs;
    }
    std::printf(
        "64 KiB image (%u bytes, %u blocks): transfer %.3f s, whole run %.3f s of virtual time\n",
        total, (total + 191) / 192, static_cast<double>(complete - burning) / NS_PER_S,
        static_cast<double>(SimNow()) / NS_PER_S);
    EXPECT_GT(complete, burning);
}

}  // namespace

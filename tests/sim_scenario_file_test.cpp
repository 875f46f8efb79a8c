#include "sim/scenario_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/sim_printers.h"

namespace {

SimScenario Parse(std::string_view text) {
    std::string error;
    const std::optional<SimScenario> scenario = ParseScenarioText(text, error);
    EXPECT_TRUE(scenario.has_value()) << "text: " << text << "\nerror: " << error;
    return scenario.value_or(SimScenario{});
}

std::string ErrorOf(std::string_view text) {
    std::string error;
    const std::optional<SimScenario> scenario = ParseScenarioText(text, error);
    EXPECT_FALSE(scenario.has_value()) << "accepted: " << text;
    return error;
}

// The default scenario with one change, as a case expects it.
SimScenario DefaultWith(const std::function<void(SimScenario&)>& change) {
    SimScenario scenario;
    change(scenario);
    return scenario;
}

TEST(ScenarioFile, EmptyTextKeepsEveryDefault) {
    for (const char* text : {"", "\n\n", "# only a comment\n   \n\t# another\n"}) {
        EXPECT_EQ(Parse(text), SimScenario{}) << text;
    }
}

TEST(ScenarioFile, DeviceLines) {
    struct Case {
        const char* text;
        std::vector<SimDevice> devices;
    };
    const Case cases[] = {
        {"device = ZVKD0042", {{.serial = "ZVKD0042"}}},
        {"device = FT123456\ndevice = ZVKD0001",
         {{.serial = "FT123456", .isTester = false}, {.serial = "ZVKD0001"}}},
        {"device = ZVKD0001\ndevice = ZVKD0002", {{.serial = "ZVKD0001"}, {.serial = "ZVKD0002"}}},
        {"device = ZVKD0001 open-fails", {{.serial = "ZVKD0001", .openFails = true}}},
        {"device =   ZVKD0001\tserial-query-fails  open-fails ",
         {{.serial = "ZVKD0001", .openFails = true, .serialQueryFails = true}}},
        // The prefix is case-sensitive, and a short serial is no tester.
        {"device = zvkd0001\ndevice = ZVK",
         {{.serial = "zvkd0001", .isTester = false}, {.serial = "ZVK", .isTester = false}}},
        {"device = ZVKD0001 not-tester", {{.serial = "ZVKD0001", .isTester = false}}},
        {"device = A1 tester", {{.serial = "A1", .isTester = true}}},
        {"devices = none", {}},
    };
    for (const Case& c : cases) {
        // The whole scenario, so that a device line cannot change anything else either.
        EXPECT_EQ(Parse(c.text), DefaultWith([&](SimScenario& s) { s.devices = c.devices; }))
            << c.text;
    }
}

TEST(ScenarioFile, TesterAndTimingKeys) {
    struct Case {
        const char* text;
        // What the key changes in the default scenario; everything else must stay.
        std::function<void(SimScenario&)> change;
    };
    const Case cases[] = {
        {"count-query-fails = yes", [](SimScenario& s) { s.countQueryFails = true; }},
        {"hardware-code = 10", [](SimScenario& s) { s.tester.hardwareCode = 10; }},
        {"hardware-code = 255", [](SimScenario& s) { s.tester.hardwareCode = 255; }},
        {"firmware-version = 4.5", [](SimScenario& s) { s.tester.firmwareTenths = 45; }},
        {"firmware-version = 7", [](SimScenario& s) { s.tester.firmwareTenths = 70; }},
        {"firmware-version = 0.7", [](SimScenario& s) { s.tester.firmwareTenths = 7; }},
        {"firmware-version = 25.5", [](SimScenario& s) { s.tester.firmwareTenths = 255; }},
        {"answers-identify = no", [](SimScenario& s) { s.tester.answersIdentify = false; }},
        {"answers-probe = no", [](SimScenario& s) { s.tester.answersProbe = false; }},
        {"probe-reply = 0a 01",
         [](SimScenario& s) {
             s.tester.probeReply = {0x0A, 0x01};
         }},
        {"probe-reply =", [](SimScenario& s) { s.tester.probeReply.clear(); }},
        {"answers-enter-bootloader = no",
         [](SimScenario& s) { s.tester.answersEnterBootloader = false; }},
        {"starts-in-bootloader = yes", [](SimScenario& s) { s.tester.startsInBootloader = true; }},
        {"bootloader-identify-reply = 01 b0 FF 00",
         [](SimScenario& s) {
             s.tester.bootloaderIdentifyReply = {0x01, 0xB0, 0xFF, 0x00};
         }},
        {"bootloader-identify-reply =",
         [](SimScenario& s) { s.tester.bootloaderIdentifyReply.clear(); }},
        {"ready-status = 256", [](SimScenario& s) { s.tester.readyStatus = 256; }},
        {"ready-status = 65535", [](SimScenario& s) { s.tester.readyStatus = 65535; }},
        {"answer-ms = 2", [](SimScenario& s) { s.tester.answerNs = 2'000'000; }},
        {"answer-ms = 0.25", [](SimScenario& s) { s.tester.answerNs = 250'000; }},
        {"bootloader-start-ms = 1200",
         [](SimScenario& s) { s.tester.bootloaderStartNs = 1'200'000'000; }},
        {"erase-ms = 0", [](SimScenario& s) { s.tester.eraseNs = 0; }},
        {"restart-after-programming-ms = 150",
         [](SimScenario& s) { s.tester.restartAfterProgrammingNs = 150'000'000; }},
        {"baud-rate = 9600", [](SimScenario& s) { s.timing.baudRate = 9600; }},
        {"baud-rate = 4294967295", [](SimScenario& s) { s.timing.baudRate = 4294967295u; }},
        {"latency-ms = 1.000001", [](SimScenario& s) { s.timing.latencyNs = 1'000'001; }},
        {"chip-packet-bytes = 64", [](SimScenario& s) { s.timing.chipPacketBytes = 64; }},
        {"read-overrun-ms = 3", [](SimScenario& s) { s.timing.readOverrunNs = 3'000'000; }},
        // Spacing, CRLF line ends and comments around a key change nothing.
        {"# tester\r\n  hardware-code=21  \r\n\r\n",
         [](SimScenario& s) { s.tester.hardwareCode = 21; }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Parse(c.text), DefaultWith(c.change)) << c.text;
    }
}

// The sweep and the soak draw every kind from the one table and the parser names it from there,
// so a new kind is swept and nameable at once; what the table cannot give it is its effect on
// the line. Written out, this count makes whoever adds a kind look here and at
// sim/serial_line.cpp, where that effect has to be written.
static_assert(FAULT_KIND_COUNT == 11,
              "a fault kind was added or removed: give it its effect in sim/serial_line.cpp and "
              "update this count");

// Every kind is reached by its name from a scenario file.
TEST(ScenarioFile, EveryFaultKindByItsName) {
    for (std::size_t index = 0; index < FAULT_KIND_COUNT; ++index) {
        const FaultKindEntry& entry = FAULT_KINDS[index];
        SCOPED_TRACE(std::string(entry.name));
        const std::uint32_t request = static_cast<std::uint32_t>(index) + 3;
        const std::string text =
            "fault = " + std::to_string(request) + " " + std::string(entry.name);
        const SimScenario s = Parse(text);
        ASSERT_EQ(s.faults.size(), 1u) << text;
        EXPECT_EQ(s.faults.begin()->first, request) << text;
        EXPECT_EQ(s.faults.begin()->second, LineFault{.kind = entry.kind}) << text;
    }
    EXPECT_EQ(FaultKindNamed("GarbageStream"), FaultKind::GarbageStream);
    EXPECT_EQ(FaultKindNamed("garbagestream"), std::nullopt);
}

TEST(ScenarioFile, FaultsAccumulateByRequest) {
    const SimScenario s = Parse(
        "fault = 4 DropReply\n"
        "fault = 4 StrayBytesFirst\n"
        "fault = 7 LateReply 1500\n"
        "fault = 9 LateReply\n");
    ASSERT_EQ(s.faults.size(), 4u);
    EXPECT_EQ(s.faults.count(4), 2u);
    const LineFault late = s.faults.find(7)->second;
    EXPECT_EQ(late.kind, FaultKind::LateReply);
    EXPECT_EQ(late.lateByNs, 1'500'000'000);
    EXPECT_EQ(s.faults.find(9)->second.lateByNs, LineFault{}.lateByNs);
}

TEST(ScenarioFile, BadLinesNameTheLineAndTheReason) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"hardware-code 20", "line 1: expected key = value"},
        {"\n# c\ncolour = red", "line 3: unknown key \"colour\""},
        {"hardware-code = 256", "line 1: hardware-code must be at most 255"},
        {"hardware-code = -1", "line 1: hardware-code must be a whole number, not \"-1\""},
        {"hardware-code = 2x", "line 1: hardware-code must be a whole number, not \"2x\""},
        {"hardware-code =", "line 1: \"hardware-code\" needs a value"},
        {"hardware-code = 20\nhardware-code = 21", "line 2: \"hardware-code\" given twice"},
        {"firmware-version = 3.85",
         "line 1: firmware-version must be a number with at most 1 decimals"},
        {"firmware-version = 25.6", "line 1: firmware-version must be at most 25.5"},
        {"firmware-version = .5", "line 1: firmware-version must be a number"},
        {"answers-probe = maybe", "line 1: answers-probe must be yes or no, not \"maybe\""},
        {"starts-in-bootloader = YES", "line 1: starts-in-bootloader must be yes or no"},
        {"bootloader-identify-reply = 1 B0", "takes bytes as two hex digits each, not \"1\""},
        {"bootloader-identify-reply = 0G", "takes bytes as two hex digits each, not \"0G\""},
        {"ready-status = 65536", "line 1: ready-status must be at most 65535"},
        {"answer-ms = 1.0000001", "line 1: answer-ms must be a number with at most 6 decimals"},
        {"latency-ms = 1.", "line 1: latency-ms must be a number"},
        {"baud-rate = 0", "line 1: baud-rate must not be 0"},
        {"chip-packet-bytes = 0", "line 1: chip-packet-bytes must not be 0"},
        {"device =", "line 1: device needs a serial number"},
        {"device = ZVKD0001 broken", "line 1: unknown device flag \"broken\""},
        {"devices = none\ndevice = ZVKD0001", "line 2: device after devices = none"},
        {"device = ZVKD0001\ndevices = none", "line 2: devices takes only the value none"},
        {"devices = two", "line 1: devices takes only the value none"},
        {"fault = 3", "line 1: fault needs a request number and a kind"},
        {"fault = x DropReply", "line 1: the request number must be a whole number"},
        {"fault = 3 dropreply", "line 1: unknown fault kind \"dropreply\""},
        {"fault = 3 DropReply 100", "line 1: DropReply takes no further value"},
        {"fault = 3 LateReply 1 2", "line 1: LateReply takes one delay in milliseconds"},
        {"fault = 3 LateReply soon", "line 1: the delay must be a number"},
    };
    for (const Case& c : cases) {
        EXPECT_NE(ErrorOf(c.text).find(c.error), std::string::npos)
            << "text: " << c.text << "\nerror: " << ErrorOf(c.text) << "\nwanted: " << c.error;
    }
}

TEST(ScenarioFile, ReadsAFileAndReportsOneThatIsMissing) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("vivad-scenario-" + std::to_string(std::random_device{}()) + ".txt");
    {
        std::ofstream file(path, std::ios::binary);
        file
            << "device = FT0001\r\ndevice = ZVKD0001\r\nhardware-code = 10\r\nfault = 5 Unplug\r\n";
    }
    std::string error;
    const std::optional<SimScenario> scenario = ReadScenarioFile(path.string(), error);
    ASSERT_TRUE(scenario.has_value()) << error;
    EXPECT_EQ(scenario->devices.size(), 2u);
    EXPECT_EQ(scenario->tester.hardwareCode, 10);
    EXPECT_EQ(scenario->faults.count(5), 1u);

    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << "device = ZVKD0001\nanswer = 42\n";
    }
    EXPECT_FALSE(ReadScenarioFile(path.string(), error).has_value());
    EXPECT_EQ(error, path.string() + ", line 2: unknown key \"answer\"");

    std::filesystem::remove(path);
    EXPECT_FALSE(ReadScenarioFile(path.string(), error).has_value());
    EXPECT_EQ(error, "cannot read the scenario file " + path.string());
}

}  // namespace

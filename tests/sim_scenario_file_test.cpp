#include "sim/dll/scenario_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

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

struct DeviceView {
    std::string serial;
    bool openFails;
    bool serialQueryFails;
    bool isTester;
    bool operator==(const DeviceView&) const = default;
};

std::vector<DeviceView> DevicesOf(const SimScenario& scenario) {
    std::vector<DeviceView> devices;
    for (const SimDevice& d : scenario.devices) {
        devices.push_back({d.serial, d.openFails, d.serialQueryFails, d.isTester});
    }
    return devices;
}

void PrintTo(const DeviceView& d, std::ostream* os) {
    *os << d.serial << (d.openFails ? " open-fails" : "")
        << (d.serialQueryFails ? " serial-query-fails" : "")
        << (d.isTester ? " tester" : " not-tester");
}

TEST(ScenarioFile, EmptyTextKeepsEveryDefault) {
    const SimScenario defaults;
    for (const char* text : {"", "\n\n", "# only a comment\n   \n\t# another\n"}) {
        const SimScenario s = Parse(text);
        EXPECT_EQ(DevicesOf(s), DevicesOf(defaults)) << text;
        EXPECT_EQ(s.countQueryFails, defaults.countQueryFails);
        EXPECT_EQ(s.tester.hardwareCode, defaults.tester.hardwareCode);
        EXPECT_EQ(s.tester.firmwareTenths, defaults.tester.firmwareTenths);
        EXPECT_EQ(s.tester.answersIdentify, defaults.tester.answersIdentify);
        EXPECT_EQ(s.tester.answersProbe, defaults.tester.answersProbe);
        EXPECT_EQ(s.tester.startsInBootloader, defaults.tester.startsInBootloader);
        EXPECT_EQ(s.tester.bootloaderIdentifyReply, defaults.tester.bootloaderIdentifyReply);
        EXPECT_EQ(s.tester.readyStatus, defaults.tester.readyStatus);
        EXPECT_EQ(s.tester.answerNs, defaults.tester.answerNs);
        EXPECT_EQ(s.timing.baudRate, defaults.timing.baudRate);
        EXPECT_EQ(s.timing.latencyNs, defaults.timing.latencyNs);
        EXPECT_TRUE(s.faults.empty());
    }
}

TEST(ScenarioFile, DeviceLines) {
    struct Case {
        const char* text;
        std::vector<DeviceView> devices;
    };
    const Case cases[] = {
        {"device = ZVKD0042", {{"ZVKD0042", false, false, true}}},
        {"device = FT123456\ndevice = ZVKD0001",
         {{"FT123456", false, false, false}, {"ZVKD0001", false, false, true}}},
        {"device = ZVKD0001\ndevice = ZVKD0002",
         {{"ZVKD0001", false, false, true}, {"ZVKD0002", false, false, true}}},
        {"device = ZVKD0001 open-fails", {{"ZVKD0001", true, false, true}}},
        {"device =   ZVKD0001\tserial-query-fails  open-fails ", {{"ZVKD0001", true, true, true}}},
        // The prefix is case-sensitive, and a short serial is no tester.
        {"device = zvkd0001\ndevice = ZVK",
         {{"zvkd0001", false, false, false}, {"ZVK", false, false, false}}},
        {"device = ZVKD0001 not-tester", {{"ZVKD0001", false, false, false}}},
        {"device = A1 tester", {{"A1", false, false, true}}},
        {"devices = none", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DevicesOf(Parse(c.text)), c.devices) << c.text;
    }
}

TEST(ScenarioFile, TesterAndTimingKeys) {
    struct Case {
        const char* text;
        std::function<bool(const SimScenario&)> holds;
    };
    const Case cases[] = {
        {"count-query-fails = yes", [](const SimScenario& s) { return s.countQueryFails; }},
        {"hardware-code = 10", [](const SimScenario& s) { return s.tester.hardwareCode == 10; }},
        {"hardware-code = 255", [](const SimScenario& s) { return s.tester.hardwareCode == 255; }},
        {"firmware-version = 4.5",
         [](const SimScenario& s) { return s.tester.firmwareTenths == 45; }},
        {"firmware-version = 7",
         [](const SimScenario& s) { return s.tester.firmwareTenths == 70; }},
        {"firmware-version = 0.7",
         [](const SimScenario& s) { return s.tester.firmwareTenths == 7; }},
        {"firmware-version = 25.5",
         [](const SimScenario& s) { return s.tester.firmwareTenths == 255; }},
        {"answers-identify = no", [](const SimScenario& s) { return !s.tester.answersIdentify; }},
        {"answers-probe = no", [](const SimScenario& s) { return !s.tester.answersProbe; }},
        {"starts-in-bootloader = yes",
         [](const SimScenario& s) { return s.tester.startsInBootloader; }},
        {"bootloader-identify-reply = 01 b0 FF 00",
         [](const SimScenario& s) {
             return s.tester.bootloaderIdentifyReply ==
                    std::vector<std::uint8_t>{0x01, 0xB0, 0xFF, 0x00};
         }},
        {"bootloader-identify-reply =",
         [](const SimScenario& s) { return s.tester.bootloaderIdentifyReply.empty(); }},
        {"ready-status = 256", [](const SimScenario& s) { return s.tester.readyStatus == 256; }},
        {"answer-ms = 2", [](const SimScenario& s) { return s.tester.answerNs == 2'000'000; }},
        {"answer-ms = 0.25", [](const SimScenario& s) { return s.tester.answerNs == 250'000; }},
        {"bootloader-start-ms = 1200",
         [](const SimScenario& s) { return s.tester.bootloaderStartNs == 1'200'000'000; }},
        {"erase-ms = 0", [](const SimScenario& s) { return s.tester.eraseNs == 0; }},
        {"restart-after-programming-ms = 150",
         [](const SimScenario& s) { return s.tester.restartAfterProgrammingNs == 150'000'000; }},
        {"baud-rate = 9600", [](const SimScenario& s) { return s.timing.baudRate == 9600; }},
        {"latency-ms = 1.000001",
         [](const SimScenario& s) { return s.timing.latencyNs == 1'000'001; }},
        {"chip-packet-bytes = 64",
         [](const SimScenario& s) { return s.timing.chipPacketBytes == 64; }},
        {"read-overrun-ms = 3",
         [](const SimScenario& s) { return s.timing.readOverrunNs == 3'000'000; }},
        // Spacing, CRLF line ends and comments around a key change nothing.
        {"# tester\r\n  hardware-code=21  \r\n\r\n",
         [](const SimScenario& s) { return s.tester.hardwareCode == 21; }},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(c.holds(Parse(c.text))) << c.text;
    }
}

// Every kind up to the last one has a name, so that a kind added to the simulator is not
// silently out of reach of the scenario files.
TEST(ScenarioFile, EveryFaultKindByItsName) {
    const int last = static_cast<int>(FaultKind::GarbageStream);
    for (int value = 0; value <= last; ++value) {
        const auto kind = static_cast<FaultKind>(value);
        const std::string name = FaultKindName(kind);
        ASSERT_NE(name, "?") << "fault kind " << value << " has no name";
        const std::string text = "fault = " + std::to_string(value + 3) + " " + name;
        const SimScenario s = Parse(text);
        ASSERT_EQ(s.faults.size(), 1u) << text;
        EXPECT_EQ(s.faults.begin()->first, static_cast<std::uint32_t>(value + 3)) << text;
        EXPECT_EQ(s.faults.begin()->second.kind, kind) << text;
    }
    EXPECT_STREQ(FaultKindName(FaultKind::DropReply), "DropReply");
    EXPECT_STREQ(FaultKindName(FaultKind::GarbageStream), "GarbageStream");
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

#include "link/tester_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sim_fixture.h"

namespace {

class TesterDiscoveryTest : public SimFixture {
  protected:
    static std::vector<const SimCall*> Calls(const std::string& function) {
        std::vector<const SimCall*> calls;
        for (const SimCall& call : SimCallLog()) {
            if (call.function == function) {
                calls.push_back(&call);
            }
        }
        return calls;
    }

    static std::string OpenedSerial() {
        const auto opens = Calls("FT_OpenEx");
        return opens.empty() ? "" : std::string(opens[0]->bytes.begin(), opens[0]->bytes.end());
    }
};

SimDevice Device(std::string serial, bool openFails = false, bool serialQueryFails = false) {
    SimDevice device;
    device.serial = std::move(serial);
    device.openFails = openFails;
    device.serialQueryFails = serialQueryFails;
    return device;
}

struct DiscoveryCase {
    const char* name;
    std::vector<SimDevice> devices;
    TesterSearchResult expected;
    std::string opened;  // serial passed to FT_OpenEx, empty when none is opened
};

TEST_F(TesterDiscoveryTest, FindsTheOneTesterByItsSerialPrefix) {
    const DiscoveryCase cases[] = {
        {"nothing attached", {}, TesterSearchResult::NoTester, ""},
        {"other FTDI devices only",
         {Device("FT4ABC12"), Device("A50285BI")},
         TesterSearchResult::NoTester,
         ""},
        {"prefix in lower case", {Device("zvkd0001")}, TesterSearchResult::NoTester, ""},
        {"serial shorter than the prefix", {Device("ZVK")}, TesterSearchResult::NoTester, ""},
        {"empty serial", {Device("")}, TesterSearchResult::NoTester, ""},
        {"tester alone", {Device("ZVKD0001")}, TesterSearchResult::TesterOpened, "ZVKD0001"},
        {"tester first",
         {Device("ZVKD7"), Device("FT1"), Device("FT2")},
         TesterSearchResult::TesterOpened,
         "ZVKD7"},
        {"tester in the middle",
         {Device("FT1"), Device("ZVKD7"), Device("FT2")},
         TesterSearchResult::TesterOpened,
         "ZVKD7"},
        {"tester last",
         {Device("FT1"), Device("FT2"), Device("ZVKD7")},
         TesterSearchResult::TesterOpened,
         "ZVKD7"},
        {"two testers",
         {Device("ZVKD0001"), Device("FT1"), Device("ZVKD0002")},
         TesterSearchResult::SeveralTesters,
         ""},
        {"the tester fails to open",
         {Device("FT1"), Device("ZVKD0001", true)},
         TesterSearchResult::OpenFailed,
         "ZVKD0001"},
        {"a failed serial query is no second tester",
         {Device("ZVKD0001"), Device("FT1", false, true)},
         TesterSearchResult::TesterOpened,
         "ZVKD0001"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        SimScenario scenario;
        scenario.devices = c.devices;
        StartScenario(scenario);
        EXPECT_EQ(FindAndOpenTester(), c.expected);
        EXPECT_EQ(OpenedSerial(), c.opened);
        EXPECT_EQ(TesterLink != nullptr, c.expected == TesterSearchResult::TesterOpened);
        // Every device is asked for its serial number, in order, none twice.
        const auto queries = Calls("FT_ListDevices");
        ASSERT_EQ(queries.size(), c.devices.size() + 1);
        for (std::size_t i = 0; i < c.devices.size(); ++i) {
            EXPECT_EQ(queries[i + 1]->argument, i);
        }
    }
}

TEST_F(TesterDiscoveryTest, AFailedCountQueryReadsAsNoDevice) {
    SimScenario scenario;
    scenario.countQueryFails = true;
    StartScenario(scenario);
    EXPECT_EQ(FindAndOpenTester(), TesterSearchResult::NoTester);
    EXPECT_EQ(Calls("FT_ListDevices").size(), 1u);
}

TEST_F(TesterDiscoveryTest, ConfiguresTheOpenedLinkFor115200Baud8N1And500msTimeouts) {
    StartAndOpen(SimScenario{});
    const std::vector<SimCall>& log = SimCallLog();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[2].function, "FT_OpenEx");
    EXPECT_EQ(log[3].function, "FT_SetBaudRate");
    EXPECT_EQ(log[3].argument, 115200u);
    EXPECT_EQ(log[4].function, "FT_SetDataCharacteristics");
    EXPECT_EQ(log[4].argument, (8u << 16) | (0u << 8) | 0u);
    EXPECT_EQ(log[5].function, "FT_SetTimeouts");
    EXPECT_EQ(log[5].argument, 500u);
    for (const SimCall& call : log) {
        EXPECT_EQ(call.status, FT_OK) << call.function;
        if (call.handle != nullptr) {
            EXPECT_EQ(call.handle, TesterLink);
        }
    }
}

TEST_F(TesterDiscoveryTest, ClosesThePreviousLinkOnceEvenWhenNoTesterIsFound) {
    StartAndOpen(SimScenario{});
    const FT_HANDLE previous = TesterLink;
    ReplaceSimDevices({});
    EXPECT_EQ(FindAndOpenTester(), TesterSearchResult::NoTester);
    EXPECT_EQ(TesterLink, nullptr);
    EXPECT_EQ(FindAndOpenTester(), TesterSearchResult::NoTester);
    const auto closes = Calls("FT_Close");
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0]->handle, previous);
    EXPECT_EQ(closes[0]->status, FT_OK);
    EXPECT_EQ(SimOpenHandleCount(), 0);
}

TEST_F(TesterDiscoveryTest, ReopensTheTesterAfterClosingThePreviousLink) {
    StartAndOpen(SimScenario{});
    // The simulated device refuses a second open, so this passes only if the first link was
    // closed before the new open.
    EXPECT_EQ(FindAndOpenTester(), TesterSearchResult::TesterOpened);
    EXPECT_EQ(SimOpenHandleCount(), 1);
}

TEST_F(TesterDiscoveryTest, SeveralTestersCloseThePreviousLinkAndOpenNone) {
    StartAndOpen(SimScenario{});
    ReplaceSimDevices({Device("ZVKD0001"), Device("ZVKD0002")});
    EXPECT_EQ(FindAndOpenTester(), TesterSearchResult::SeveralTesters);
    EXPECT_EQ(SimOpenHandleCount(), 0);
    EXPECT_EQ(Calls("FT_OpenEx").size(), 1u);
}

}  // namespace

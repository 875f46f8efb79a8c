#include "link/tester_discovery.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/support/sim_fixture.h"

namespace {

class TesterDiscoveryTest : public SimFixture {};

struct DiscoveryCase {
    const char* name;
    std::vector<SimDevice> devices;
    TesterSearchResult expected;
    // The serial found and passed to FT_OpenEx, whether it opens or not; empty when none is.
    std::string opened;
};

void PrintTo(const DiscoveryCase& c, std::ostream* os) {
    *os << c.name;
}

// A serial number of `length` characters that begins with `start`.
std::string SerialOf(std::size_t length, const std::string& start) {
    std::string serial = start;
    serial.resize(length, '7');
    return serial;
}

// The serial-number buffer holds 64 bytes; a library that fills it leaves no room for the
// terminator, and discovery keeps the first 63 characters.
const std::string TESTER_64 = SerialOf(SERIAL_NUMBER_BUFFER_SIZE, "ZVKD");
const std::string TESTER_64_AS_KEPT = TESTER_64.substr(0, SERIAL_NUMBER_BUFFER_SIZE - 1);

const DiscoveryCase DISCOVERY_CASES[] = {
    {"NothingAttached", {}, TesterSearchResult::NoTester, ""},
    {"OtherFtdiDevicesOnly",
     {{.serial = "FT4ABC12"}, {.serial = "A50285BI"}},
     TesterSearchResult::NoTester,
     ""},
    {"PrefixInLowerCase", {{.serial = "zvkd0001"}}, TesterSearchResult::NoTester, ""},
    {"SerialShorterThanThePrefix", {{.serial = "ZVK"}}, TesterSearchResult::NoTester, ""},
    {"EmptySerial", {{.serial = ""}}, TesterSearchResult::NoTester, ""},
    {"TesterAlone", {{.serial = "ZVKD0001"}}, TesterSearchResult::TesterOpened, "ZVKD0001"},
    {"TesterFirst",
     {{.serial = "ZVKD7"}, {.serial = "FT1"}, {.serial = "FT2"}},
     TesterSearchResult::TesterOpened,
     "ZVKD7"},
    {"TesterInTheMiddle",
     {{.serial = "FT1"}, {.serial = "ZVKD7"}, {.serial = "FT2"}},
     TesterSearchResult::TesterOpened,
     "ZVKD7"},
    {"TesterLast",
     {{.serial = "FT1"}, {.serial = "FT2"}, {.serial = "ZVKD7"}},
     TesterSearchResult::TesterOpened,
     "ZVKD7"},
    {"TwoTesters",
     {{.serial = "ZVKD0001"}, {.serial = "FT1"}, {.serial = "ZVKD0002"}},
     TesterSearchResult::SeveralTesters,
     ""},
    {"TheTesterFailsToOpen",
     {{.serial = "FT1"}, {.serial = "ZVKD0001", .openFails = true}},
     TesterSearchResult::OpenFailed,
     "ZVKD0001"},
    {"AFailedSerialQueryIsNoSecondTester",
     {{.serial = "ZVKD0001"}, {.serial = "FT1", .serialQueryFails = true}},
     TesterSearchResult::TesterOpened,
     "ZVKD0001"},
    {"ATesterSerialOf63CharactersIsOpenedWhole",
     {{.serial = SerialOf(63, "ZVKD")}},
     TesterSearchResult::TesterOpened,
     SerialOf(63, "ZVKD")},
    // Found by its prefix, but opened by the 63 characters kept, which the simulated library
    // knows under no device: the run would end as a tester that failed to open.
    {"ATesterSerialFillingTheWholeBufferIsOpenedCutTo63Characters",
     {{.serial = TESTER_64, .serialUnterminated = true}},
     TesterSearchResult::OpenFailed,
     TESTER_64_AS_KEPT},
    {"ALongerTesterSerialIsCutTheSameWay",
     {{.serial = SerialOf(100, "ZVKD"), .serialUnterminated = true}},
     TesterSearchResult::OpenFailed,
     TESTER_64_AS_KEPT},
    {"AnotherSerialFillingTheWholeBufferIsNoTester",
     {{.serial = SerialOf(SERIAL_NUMBER_BUFFER_SIZE, "FT"), .serialUnterminated = true},
      {.serial = "ZVKD0001"}},
     TesterSearchResult::TesterOpened,
     "ZVKD0001"},
    {"ATesterSerialFillingTheWholeBufferStillCountsAsATester",
     {{.serial = "ZVKD0001"}, {.serial = TESTER_64, .serialUnterminated = true}},
     TesterSearchResult::SeveralTesters,
     ""},
};

class TesterSearchTest : public TesterDiscoveryTest,
                         public testing::WithParamInterface<DiscoveryCase> {};

TEST_P(TesterSearchTest, FindsTheOneTesterByItsSerialPrefix) {
    const DiscoveryCase& c = GetParam();
    SimScenario scenario;
    scenario.devices = c.devices;
    StartScenario(scenario);
    // With no serial wanted, as FindAndOpenTester() without arguments asks, so that the serial
    // found is told too; the tests below search through that one, as the Windows program does.
    std::string found = "left over";
    EXPECT_EQ(FindAndOpenTester("", found), c.expected);
    EXPECT_EQ(found, c.opened);
    EXPECT_EQ(OpenedSerials(),
              c.opened.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.opened});
    EXPECT_EQ(TesterLink != nullptr, c.expected == TesterSearchResult::TesterOpened);
    // Every device is asked for its serial number, in order, none twice.
    const auto queries = Calls("FT_ListDevices");
    ASSERT_EQ(queries.size(), c.devices.size() + 1);
    for (std::size_t i = 0; i < c.devices.size(); ++i) {
        EXPECT_EQ(queries[i + 1]->argument, i);
        if (c.devices[i].serialUnterminated) {
            // The simulated library did fill the whole buffer.
            EXPECT_EQ(queries[i + 1]->bytes.size(), SERIAL_NUMBER_BUFFER_SIZE);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, TesterSearchTest, testing::ValuesIn(DISCOVERY_CASES),
                         testing::PrintToStringParamName());

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
    ReplaceSimDevices({{.serial = "ZVKD0001"}, {.serial = "ZVKD0002"}});
    EXPECT_EQ(FindAndOpenTester(), TesterSearchResult::SeveralTesters);
    EXPECT_EQ(SimOpenHandleCount(), 0);
    EXPECT_EQ(Calls("FT_OpenEx").size(), 1u);
}

}  // namespace

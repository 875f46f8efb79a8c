// Finding the one tester among the attached FTDI devices by its serial-number prefix, and
// opening the link to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class TesterSearchResult {
    TesterOpened,
    NoTester,
    SeveralTesters,
    OpenFailed,
};

// The characters every tester's serial number begins with; compared case-sensitively.
constexpr char TESTER_SERIAL_PREFIX[] = "ZVKD";
constexpr std::size_t TESTER_SERIAL_PREFIX_LENGTH = sizeof(TESTER_SERIAL_PREFIX) - 1;
// Room for any serial number the device library reports by index.
constexpr std::size_t SERIAL_NUMBER_BUFFER_SIZE = 64;

constexpr std::uint32_t LINK_BAUD_RATE = 115200;
constexpr std::uint32_t LINK_TIMEOUT_MS = 500;

// Whether a serial number is a tester's: its first four characters are the prefix.
bool IsTesterSerial(const char* serial);

// Closes the link a previous run left open, enumerates the devices and opens the single tester
// at 115200 baud, 8N1, with 500 ms timeouts.
TesterSearchResult FindAndOpenTester();

// The same, for the tester whose serial number is `wantedSerial` exactly; others attached beside
// it do not count. An empty `wantedSerial` asks for the single tester, as above. The serial of
// the tester found (opened or not) is left in `foundSerial`, empty when none was found.
TesterSearchResult FindAndOpenTester(std::string_view wantedSerial, std::string& foundSerial);

struct AttachedTester {
    // The device library's position of the device, as the by-index query counts it.
    std::uint32_t index = 0;
    std::string serial;
};

// Every attached device whose serial number is a tester's, in the library's order. Opens
// nothing and leaves the link as it is.
std::vector<AttachedTester> ListAttachedTesters();

// Closes the open link, if there is one. Discovery does this first; a run leaves the link open
// for the next run to close, and a front end that ends with its run closes it itself.
void CloseTesterLink();

// Finding the one tester among the attached FTDI devices by its serial-number prefix, and
// opening the link to it.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Closes the link a previous run left open, enumerates the devices and opens the single tester
// at 115200 baud, 8N1, with 500 ms timeouts.
TesterSearchResult FindAndOpenTester();

// The simulated FTDI devices attached to the PC, one of which may be the tester, and a log of
// every device-library call made to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/d2xx.h"
#include "sim/serial_line.h"
#include "sim/tester_model.h"

struct SimDevice {
    std::string serial = "ZVKD0001";
    bool openFails = false;
    // The by-index serial-number query for this device fails and writes nothing.
    bool serialQueryFails = false;
    // The by-index query copies the serial number into the caller's 64-byte buffer, filling it
    // whole when the serial is that long, and writes no terminator after it, as a library
    // reporting a serial of 64 or more characters might; a shorter serial is copied without its
    // terminator, the rest of the buffer left as it was. Otherwise a serial number is cut to 63
    // characters and terminated.
    bool serialUnterminated = false;
    // Whether the tester's firmware is behind this device: by default it is, whatever the serial;
    // only a scenario file's device line derives it from the serial's prefix.
    bool isTester = true;

    bool operator==(const SimDevice&) const = default;
};

struct SimScenario {
    std::vector<SimDevice> devices = {SimDevice{}};
    // The device-count query fails and writes nothing.
    bool countQueryFails = false;
    TesterBehaviour tester;
    LineTiming timing;
    FaultScript faults;
    bool keepCallLog = true;

    bool operator==(const SimScenario&) const = default;
};

struct SimCall {
    std::string function;
    FT_HANDLE handle = nullptr;
    // The call's telling argument: flags, index, baud rate, timeout or byte count.
    std::uint64_t argument = 0;
    // Bytes written, bytes read, or the serial number opened.
    std::vector<std::uint8_t> bytes;
    FT_STATUS status = FT_OK;
    std::int64_t atNs = 0;
};

// Called with every device-library call as it is logged, e.g. to write it to a file.
using SimCallObserver = void (*)(const SimCall& call);
void ObserveSimCalls(SimCallObserver observer);

// Replaces the attached devices, the tester and its line; the log starts empty.
void StartScenario(const SimScenario& scenario);

// The scenario's tester, fresh, on a fresh line with the scenario's timing and faults.
void ResetTesterAndLine(const SimScenario& scenario, TesterModel& tester, SerialLine& line);

// Plugs and unplugs devices without touching open handles or the tester.
void ReplaceSimDevices(const std::vector<SimDevice>& devices);

const TesterModel& SimTester();
// Direct access to the tester's line, for tests that play the tester's side byte by byte.
SerialLine& SimLine();
const std::vector<SimCall>& SimCallLog();
// The frames written to the tester so far, in order, as they left the PC.
std::vector<std::vector<std::uint8_t>> SimWrittenFrames();
// Handles currently open.
int SimOpenHandleCount();

// One line saying whether the tester holds a whole image with a good CRC.
std::string DescribeVerdict(const TesterModel& tester);

// The log line "image " and the verdict when the tester's image has become complete since the
// last call, which left what it saw in `wasComplete`; empty otherwise.
std::string ImageCompletedLine(const TesterModel& tester, bool& wasComplete);

// The simulator's logs, in one format for the simulated FTD2XX.dll, vivad-sim-pty and the tests
// that read them: bytes as "02 01 0A", and a time as milliseconds in a column ("%10.3f").
std::string HexOf(const std::uint8_t* bytes, std::size_t count);
std::string LogTimeOf(std::int64_t ns);

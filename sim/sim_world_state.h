// The simulator's shared state, for its own files only: the world of devices and handles that
// the device-library face works on.
#pragma once

#include <deque>
#include <mutex>

#include "sim/sim_world.h"

constexpr std::uint32_t DEFAULT_READ_TIMEOUT_MS = 5000;

struct SimHandle {
    std::size_t device = 0;
    bool open = true;
    std::uint32_t readTimeoutMs = DEFAULT_READ_TIMEOUT_MS;
    std::uint32_t baudRate = 9600;
    std::uint8_t wordLength = 8;
    std::uint8_t stopBits = 0;
    std::uint8_t parity = 0;
};

struct SimWorld {
    SimScenario scenario;
    TesterModel tester;
    SerialLine line;
    // Never shrinks, so that a handle stays recognisable, and refusable, after it is closed.
    std::deque<SimHandle> handles;
    std::vector<SimCall> log;
    SimCallObserver observer = nullptr;
};

extern SimWorld world;
// Held for the whole of every device-library call.
extern std::mutex worldMutex;

// Records the call, tells the observer, and returns its status.
FT_STATUS Logged(SimCall call, FT_STATUS status);
// The open handle behind `handle`, or null for an unknown or closed one.
SimHandle* OpenHandle(FT_HANDLE handle);
bool DeviceIsOpen(std::size_t device);
// The tester, when the handle leads to it and is set up as its link (115200 baud, 8N1).
TesterModel* TesterBehind(const SimHandle& h);

// The serial line between the PC and the simulated tester: bytes take their time on the wire at
// the baud rate, replies wait in the FTDI chip for its latency timer, reads honour their timeout
// and return a little after it, and scripted faults strike chosen exchanges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "sim/fault_kinds.h"
#include "sim/tester_model.h"

struct LineTiming {
    std::uint32_t baudRate = 115200;
    // 8N1: start bit, eight data bits, stop bit.
    std::uint32_t bitsPerByte = 10;
    // The chip hands bytes to the PC when it holds a packet's worth or when this has passed.
    std::int64_t latencyNs = 16'000'000;
    std::uint32_t chipPacketBytes = 62;
    // A read that times out returns this much after its timeout.
    std::int64_t readOverrunNs = 1'000'000;

    std::int64_t ByteNs() const {
        return static_cast<std::int64_t>(bitsPerByte) * 1'000'000'000 / baudRate;
    }

    bool operator==(const LineTiming&) const = default;
};

struct LineFault {
    FaultKind kind = FaultKind::DropReply;
    std::int64_t lateByNs = 2'500'000'000;

    bool operator==(const LineFault&) const = default;
};

// Faults by request: the n-th frame the PC writes, counted from 0 over the whole scenario.
using FaultScript = std::multimap<std::uint32_t, LineFault>;

struct TimedByte {
    std::int64_t visibleAt;
    std::uint8_t value;
};

struct SerialLine {
    LineTiming timing;
    FaultScript faults;
    std::uint32_t requestCount = 0;

    std::int64_t toTesterFreeAt = 0;
    std::int64_t toHostFreeAt = 0;
    std::deque<TimedByte> toHost;
    std::int64_t chipFlushAt = -1;
    std::uint32_t chipHeld = 0;

    std::vector<std::uint8_t> testerInput;
    bool unplugged = false;
    std::optional<std::int64_t> garbageFrom;
    std::uint64_t garbageTaken = 0;
};

// Drops whatever waits for the PC, as opening the device does.
void PurgeLine(SerialLine& line);

// The PC writes `count` bytes at `now`; a tester, if connected, hears them as they arrive.
void WriteLine(SerialLine& line, TesterModel* tester, const std::uint8_t* bytes,
               std::uint32_t count, std::int64_t now);

// Reads up to `count` bytes, waiting on the simulator's clock until they are all there or the
// timeout has run out. Returns the count read; false in `connected` when the tester is gone.
std::uint32_t ReadLine(SerialLine& line, std::uint8_t* destination, std::uint32_t count,
                       std::uint32_t timeoutMs, bool& connected);

// Takes, in order, up to `limit` of the bytes that have reached the PC by `now`, the garbage
// stream included; returns the count taken. For a peer that serves the line in real time.
std::uint32_t TakeVisibleBytes(SerialLine& line, std::int64_t now, std::uint8_t* destination,
                               std::uint32_t limit);

// When the next byte reaches the PC; none while nothing is on its way.
std::optional<std::int64_t> NextVisibleTime(const SerialLine& line);

// Bytes that reach the PC at `visibleAt`, straight from the chip, for tests of the receiver.
void QueueForHost(SerialLine& line, const std::vector<std::uint8_t>& bytes, std::int64_t visibleAt);

// From `from` on, the line carries bytes without end, none of them STX.
void StartGarbage(SerialLine& line, std::int64_t from);

// The frame's shape as the tester knows it, apart from the updater's (link/frame_codec.h), for
// the reason given at FrameOf.
constexpr std::uint8_t TESTER_STX = 0x02;
constexpr std::uint8_t TESTER_ETX = 0x03;
// STX, length, checksum and ETX around the payload.
constexpr std::size_t TESTER_FRAME_OVERHEAD = 4;

// Frames a payload the way the tester and the PC both do. Written apart from the updater's own
// encoder (link/frame_codec.cpp), as the tester's opcodes are apart from the updater's
// (sim/tester_model.cpp): were the simulator to share the core's constants, a wrong STX, ETX,
// checksum or opcode there would agree with itself and every test would pass. Kept apart, the
// mistake shows up as an exchange the tester does not answer.
std::vector<std::uint8_t> FrameOf(const std::vector<std::uint8_t>& payload);

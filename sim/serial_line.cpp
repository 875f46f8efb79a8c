#include "sim/serial_line.h"

#include <algorithm>

#include "sim/sim_clock.h"

namespace {

// Never STX, so that the garbage stream never starts a frame.
constexpr std::uint8_t GARBAGE_PATTERN[] = {0x55, 0xAA, 0x00, 0xFF, 0x13, 0x80};

std::optional<LineFault> FindFault(SerialLine& line, std::uint32_t request, FaultKind kind) {
    const auto range = line.faults.equal_range(request);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second.kind == kind) {
            return it->second;
        }
    }
    return std::nullopt;
}

bool HasFault(SerialLine& line, std::uint32_t request, FaultKind kind) {
    return FindFault(line, request, kind).has_value();
}

// Puts reply bytes on the wire towards the chip, and from the chip to the PC.
void SendToHost(SerialLine& line, const std::vector<std::uint8_t>& frame, std::int64_t readyAt) {
    const std::int64_t byteNs = line.timing.ByteNs();
    std::int64_t arrival = std::max(readyAt, line.toHostFreeAt);
    for (const std::uint8_t value : frame) {
        arrival += byteNs;
        if (arrival <= line.chipFlushAt && line.chipHeld < line.timing.chipPacketBytes) {
            ++line.chipHeld;
        } else {
            line.chipFlushAt = arrival + line.timing.latencyNs;
            line.chipHeld = 1;
        }
        line.toHost.push_back({line.chipFlushAt, value});
        if (line.chipHeld == line.timing.chipPacketBytes) {
            // A full packet goes to the PC at once.
            for (std::uint32_t i = 0; i < line.chipHeld; ++i) {
                line.toHost[line.toHost.size() - 1 - i].visibleAt = arrival;
            }
            line.chipFlushAt = arrival;
        }
    }
    line.toHostFreeAt = arrival;
}

std::vector<std::uint8_t> WithReplyFaults(SerialLine& line, std::uint32_t request,
                                          std::vector<std::uint8_t> payload,
                                          std::int64_t& readyAt) {
    if (HasFault(line, request, FaultKind::PreviousBlockNumber) && payload.size() == 3 &&
        payload[0] == 0xFF) {
        const auto number = static_cast<std::uint16_t>((payload[1] | (payload[2] << 8)) - 1);
        payload[1] = static_cast<std::uint8_t>(number);
        payload[2] = static_cast<std::uint8_t>(number >> 8);
    }
    if (HasFault(line, request, FaultKind::NotReadyStatus) && payload.size() == 3) {
        payload[1] = 0x00;
        payload[2] = 0x01;
    }
    if (HasFault(line, request, FaultKind::WrongOpcode) && !payload.empty()) {
        payload[0] ^= 0x80;
    }
    if (HasFault(line, request, FaultKind::EmptyReply)) {
        payload.clear();
    }
    if (const auto late = FindFault(line, request, FaultKind::LateReply)) {
        readyAt += late->lateByNs;
    }
    std::vector<std::uint8_t> frame = FrameOf(payload);
    if (HasFault(line, request, FaultKind::CutReply)) {
        frame.resize(2 + (frame.size() - 2) / 2);
    }
    if (HasFault(line, request, FaultKind::StrayBytesFirst)) {
        frame.insert(frame.begin(), {0x55, 0xAA, TESTER_STX});
    }
    return frame;
}

// The tester's receiver: whole frames with a good checksum and ETX reach the model, anything
// else is dropped.
void TesterHears(SerialLine& line, TesterModel& tester, std::uint32_t request, std::uint8_t value,
                 std::int64_t arrival) {
    std::vector<std::uint8_t>& input = line.testerInput;
    if (input.empty() && value != TESTER_STX) {
        return;
    }
    input.push_back(value);
    if (input.size() < 2 || input.size() < input[1] + TESTER_FRAME_OVERHEAD) {
        return;
    }
    std::uint8_t check = 0;
    for (const std::uint8_t b : input) {
        check ^= b;
    }
    const bool good = check == 0 && input.back() == TESTER_ETX;
    const std::vector<std::uint8_t> payload(input.begin() + 2, input.end() - 2);
    input.clear();
    if (!good) {
        return;
    }
    if (HasFault(line, request, FaultKind::GarbageStream)) {
        line.garbageFrom = arrival + tester.behaviour.answerNs;
        return;
    }
    auto reply = HandleRequest(tester, payload, arrival);
    if (!reply || HasFault(line, request, FaultKind::DropReply)) {
        return;
    }
    std::int64_t readyAt = reply->readyAt;
    const std::vector<std::uint8_t> frame =
        WithReplyFaults(line, request, std::move(reply->payload), readyAt);
    SendToHost(line, frame, readyAt);
}

std::uint64_t GarbageVisibleBy(const SerialLine& line, std::int64_t time) {
    if (!line.garbageFrom || time < *line.garbageFrom) {
        return 0;
    }
    return static_cast<std::uint64_t>((time - *line.garbageFrom) / line.timing.ByteNs());
}

std::uint32_t VisibleBy(const SerialLine& line, std::int64_t time, std::uint32_t limit) {
    std::uint32_t count = 0;
    while (count < limit && count < line.toHost.size() && line.toHost[count].visibleAt <= time) {
        ++count;
    }
    if (count == line.toHost.size() && count < limit) {
        const std::uint64_t garbage = GarbageVisibleBy(line, time) - line.garbageTaken;
        count += static_cast<std::uint32_t>(std::min<std::uint64_t>(garbage, limit - count));
    }
    return count;
}

// When the n-th byte from now on reaches the PC; none if it never will.
std::optional<std::int64_t> VisibleTimeOf(const SerialLine& line, std::uint32_t n) {
    if (n <= line.toHost.size()) {
        return line.toHost[n - 1].visibleAt;
    }
    if (!line.garbageFrom) {
        return std::nullopt;
    }
    const std::uint64_t garbageNeeded = line.garbageTaken + (n - line.toHost.size());
    return *line.garbageFrom + static_cast<std::int64_t>(garbageNeeded) * line.timing.ByteNs();
}

}  // namespace

std::vector<std::uint8_t> FrameOf(const std::vector<std::uint8_t>& payload) {
    const std::size_t n = payload.size();
    std::vector<std::uint8_t> frame(n + TESTER_FRAME_OVERHEAD);
    frame[0] = TESTER_STX;
    frame[1] = static_cast<std::uint8_t>(n);
    std::uint8_t check = TESTER_STX ^ TESTER_ETX ^ frame[1];
    for (std::size_t i = 0; i < n; ++i) {
        frame[2 + i] = payload[i];
        check ^= payload[i];
    }
    frame[n + 2] = check;
    frame[n + 3] = TESTER_ETX;
    return frame;
}

void QueueForHost(SerialLine& line, const std::vector<std::uint8_t>& bytes,
                  std::int64_t visibleAt) {
    for (const std::uint8_t value : bytes) {
        line.toHost.push_back({visibleAt, value});
    }
}

void StartGarbage(SerialLine& line, std::int64_t from) {
    line.garbageFrom = from;
}

void PurgeLine(SerialLine& line) {
    line.toHost.clear();
    line.chipFlushAt = -1;
    line.chipHeld = 0;
    line.testerInput.clear();
}

void WriteLine(SerialLine& line, TesterModel* tester, const std::uint8_t* bytes,
               std::uint32_t count, std::int64_t now) {
    const std::uint32_t request = line.requestCount++;
    if (HasFault(line, request, FaultKind::Unplug)) {
        line.unplugged = true;
    }
    if (line.unplugged || line.garbageFrom || tester == nullptr) {
        return;
    }
    std::vector<std::uint8_t> sent(bytes, bytes + count);
    if (HasFault(line, request, FaultKind::CorruptRequest) && count >= 2) {
        sent[count - 2] ^= 0x5A;
    }
    const std::int64_t byteNs = line.timing.ByteNs();
    std::int64_t arrival = std::max(now, line.toTesterFreeAt);
    for (const std::uint8_t value : sent) {
        arrival += byteNs;
        TesterHears(line, *tester, request, value, arrival);
    }
    line.toTesterFreeAt = arrival;
}

std::uint32_t ReadLine(SerialLine& line, std::uint8_t* destination, std::uint32_t count,
                       std::uint32_t timeoutMs, bool& connected) {
    connected = !line.unplugged;
    if (!connected || count == 0) {
        return 0;
    }
    const std::int64_t now = SimNow();
    const std::int64_t deadline =
        now + static_cast<std::int64_t>(timeoutMs) * NS_PER_MS + line.timing.readOverrunNs;
    const std::optional<std::int64_t> complete = VisibleTimeOf(line, count);
    const std::int64_t returnAt =
        complete && *complete <= deadline ? std::max(now, *complete) : deadline;
    SimWaitUntil(returnAt);
    return TakeVisibleBytes(line, returnAt, destination, count);
}

std::uint32_t TakeVisibleBytes(SerialLine& line, std::int64_t now, std::uint8_t* destination,
                               std::uint32_t limit) {
    const std::uint32_t available = VisibleBy(line, now, limit);
    for (std::uint32_t i = 0; i < available; ++i) {
        if (!line.toHost.empty()) {
            destination[i] = line.toHost.front().value;
            line.toHost.pop_front();
        } else {
            destination[i] = GARBAGE_PATTERN[line.garbageTaken++ % sizeof GARBAGE_PATTERN];
        }
    }
    return available;
}

std::optional<std::int64_t> NextVisibleTime(const SerialLine& line) {
    return VisibleTimeOf(line, 1);
}

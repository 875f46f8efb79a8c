// The tester's frame: STX, payload length, payload, XOR checksum, ETX; the same layout in both
// directions. SendFrame writes one request, ReceiveFrame hunts for one reply under a deadline.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint8_t FRAME_STX = 0x02;
constexpr std::uint8_t FRAME_ETX = 0x03;
// STX, length, checksum and ETX around the payload.
constexpr std::size_t FRAME_OVERHEAD = 4;
// Every request frame is assembled in a transmit buffer of 256 bytes; requests carry at most
// 251 payload bytes.
constexpr std::size_t TRANSMIT_BUFFER_SIZE = 256;
constexpr std::size_t MAX_REQUEST_PAYLOAD = 251;
static_assert(MAX_REQUEST_PAYLOAD + FRAME_OVERHEAD <= TRANSMIT_BUFFER_SIZE);
// Room for the longest frame a one-byte length allows: 2 + 255 + 2 bytes.
constexpr std::size_t FRAME_BUFFER_SIZE = 260;
// Payload byte k of a received frame stands at buffer byte k + 2.
constexpr std::size_t REPLY_PAYLOAD_OFFSET = 2;

// One exchange's bytes: the request payload from byte 0 before SendFrame, the whole reply frame
// from byte 0 after ReceiveFrame. Bytes past a received frame keep what they held.
struct FrameBuffer {
    std::uint8_t bytes[FRAME_BUFFER_SIZE] = {};

    std::uint8_t ReplyLength() const { return bytes[1]; }
    std::uint8_t ReplyByte(std::size_t k) const { return bytes[REPLY_PAYLOAD_OFFSET + k]; }
};

// Builds one frame around `length` payload bytes in the process-wide transmit buffer and writes
// it to the open tester link with one write. A payload longer than MAX_REQUEST_PAYLOAD would not
// fit the transmit buffer and is not sent at all.
void SendFrame(const std::uint8_t* payload, std::size_t length);

// Reads one whole frame into `frame` from byte 0. Returns false when the deadline of
// `timeoutMs`, counted from the call, passed first. Checksum and ETX are not examined.
bool ReceiveFrame(FrameBuffer& frame, std::uint32_t timeoutMs);

// How long ReceiveFrame pauses after a read that brought nothing, before it reads again.
constexpr std::uint32_t EMPTY_READ_PAUSE_MS = 10;

// The longest one ReceiveFrame call lasts, in nanoseconds, when every read of the device library
// returns at most `readLateNs` after its timeout. From the receiver's loop:
//  - the deadline test counts whole microseconds, truncated, and ends the call only when the
//    count is past the timeout ('>'); so the last test that lets the call go on comes before
//    the timeout and one microsecond have passed;
//  - after it the call may pause EMPTY_READ_PAUSE_MS, when that test followed an empty read;
//  - then come at most three reads before the call returns: the one that may bring STX, the
//    length byte and the body. The read timeout is set once per call, to `timeoutMs`, so each
//    may wait that long and return `readLateNs` late. A byte other than STX, or a short length
//    or body read, is followed by the deadline test, which now ends the call.
// Time spent outside the reads and the pause (none on the simulator's clock) comes on top.
constexpr std::int64_t ReceiveFrameLongestNs(std::uint32_t timeoutMs, std::int64_t readLateNs) {
    const std::int64_t nsPerUs = 1000;
    const std::int64_t nsPerMs = 1000 * nsPerUs;
    const std::int64_t timeoutNs = static_cast<std::int64_t>(timeoutMs) * nsPerMs;
    const std::int64_t lastTestGoingOn = timeoutNs + nsPerUs;
    const std::int64_t pause = static_cast<std::int64_t>(EMPTY_READ_PAUSE_MS) * nsPerMs;
    return lastTestGoingOn + pause + 3 * (timeoutNs + readLateNs);
}

// The frame SendFrame would write for `payload`, laid down in `out` (payload length + 4 bytes).
// Returns the frame's length, or 0 when the payload is too long for a request.
std::size_t EncodeFrame(const std::uint8_t* payload, std::size_t length, std::uint8_t* out);

#include "update/bootloader_transfer.h"

#include <algorithm>
#include <cstring>

#include "update/run_host.h"
#include "update/run_texts.h"
#include "update/tester_commands.h"

namespace {

constexpr std::uint8_t START_MAGIC[] = {'Z', 'V', 'K', 'D'};

bool Exchange(FrameBuffer& frame, std::size_t payloadLength, std::uint32_t timeoutMs) {
    SendFrame(frame.bytes, payloadLength);
    return ReceiveFrame(frame, timeoutMs);
}

void PutLittleEndian(std::uint8_t* destination, std::uint32_t value, int byteCount) {
    for (int i = 0; i < byteCount; ++i) {
        destination[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Payload bytes 1 and 2 of a reply, little-endian. A reply too short to carry them has none, so
// nothing is ever judged by bytes left over from an earlier frame.
bool ReplyNumber(const FrameBuffer& frame, std::uint16_t& number) {
    if (frame.ReplyLength() < 3) {
        return false;
    }
    number = static_cast<std::uint16_t>(frame.ReplyByte(1) | (frame.ReplyByte(2) << 8));
    return true;
}

// Sends the start request until the bootloader accepts it. Returns the number of sends it took,
// or 0 when none was accepted.
int AnnounceImage(FrameBuffer& frame, std::uint32_t totalLength) {
    for (int attempt = 1; attempt <= START_ATTEMPTS; ++attempt) {
        frame.bytes[0] = CMD_START_PROGRAMMING;
        std::memcpy(&frame.bytes[1], START_MAGIC, sizeof START_MAGIC);
        PutLittleEndian(&frame.bytes[5], totalLength, 4);
        if (Exchange(frame, START_REQUEST_LENGTH, START_REPLY_TIMEOUT_MS) &&
            frame.ReplyLength() >= 1 && frame.ReplyByte(0) == CMD_START_PROGRAMMING) {
            return attempt;
        }
    }
    return 0;
}

enum class Readiness { Ready, NotReady, NoReply };

Readiness AwaitReadiness(FrameBuffer& frame, int& queries) {
    for (queries = 1; queries <= READY_QUERY_ATTEMPTS; ++queries) {
        frame.bytes[0] = CMD_BLOCK;
        PutLittleEndian(&frame.bytes[1], READY_QUERY_BLOCK, 2);
        std::uint16_t status = 0;
        if (Exchange(frame, BLOCK_HEADER_LENGTH, REPLY_TIMEOUT_MS) && ReplyNumber(frame, status)) {
            return status == 0 ? Readiness::Ready : Readiness::NotReady;
        }
    }
    return Readiness::NoReply;
}

// A ready bootloader's readiness reply is byte for byte the acknowledgement of block 0. When the
// start or the readiness query had to be sent again, a reply to an earlier send may still be on
// its way, and block 0 must not take it for its own: such replies are read off first, until the
// line has stayed quiet for one reply's wait.
void SettleLine(FrameBuffer& frame) {
    for (int i = 0; i < START_ATTEMPTS + READY_QUERY_ATTEMPTS; ++i) {
        if (!ReceiveFrame(frame, REPLY_TIMEOUT_MS)) {
            return;
        }
    }
}

bool SendBlock(FrameBuffer& frame, const FirmwareImage& image, std::uint32_t block) {
    const std::uint32_t offset = block * static_cast<std::uint32_t>(BLOCK_SIZE);
    const std::uint32_t dataLength =
        std::min<std::uint32_t>(BLOCK_SIZE, image.totalLength - offset);
    for (int attempt = 0; attempt < BLOCK_ATTEMPTS; ++attempt) {
        // The reply lands over the request, so every send rebuilds it.
        frame.bytes[0] = CMD_BLOCK;
        PutLittleEndian(&frame.bytes[1], block, 2);
        std::memcpy(&frame.bytes[BLOCK_HEADER_LENGTH], image.bytes + offset, dataLength);
        std::uint16_t acknowledged = 0;
        if (Exchange(frame, BLOCK_HEADER_LENGTH + dataLength, REPLY_TIMEOUT_MS) &&
            ReplyNumber(frame, acknowledged) && acknowledged == block) {
            return true;
        }
    }
    return false;
}

}  // namespace

RunEnding TransferImage(FrameBuffer& frame, const FirmwareImage& image) {
    // Block numbers stop short of the readiness query's; a longer image cannot be numbered.
    if (image.totalLength > MAX_IMAGE_LENGTH) {
        return RunEnding::ProgrammingFailed;
    }
    StatusLog(RunTextOf(RunText::BurningLine));
    const int starts = AnnounceImage(frame, image.totalLength);
    if (starts == 0) {
        return RunEnding::ProgrammingFailed;
    }
    int queries = 0;
    switch (AwaitReadiness(frame, queries)) {
        case Readiness::Ready:
            break;
        case Readiness::NotReady:
            return RunEnding::TesterNotReady;
        case Readiness::NoReply:
            return RunEnding::ProgrammingFailed;
    }
    if (starts > 1 || queries > 1) {
        SettleLine(frame);
    }
    for (std::uint32_t block = 0; block * BLOCK_SIZE < image.totalLength; ++block) {
        if (!SendBlock(frame, image, block)) {
            return RunEnding::ProgrammingFailed;
        }
    }
    StatusLog(RunTextOf(RunText::CompleteLine));
    return RunEnding::ProgrammingComplete;
}

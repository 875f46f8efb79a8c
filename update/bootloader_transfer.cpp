#include "update/bootloader_transfer.h"

#include <algorithm>
#include <cstring>

#include "update/run_host.h"
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

bool AnnounceImage(FrameBuffer& frame, std::uint32_t totalLength) {
    for (int attempt = 0; attempt < START_ATTEMPTS; ++attempt) {
        frame.bytes[0] = CMD_START_PROGRAMMING;
        std::memcpy(&frame.bytes[1], START_MAGIC, sizeof START_MAGIC);
        PutLittleEndian(&frame.bytes[5], totalLength, 4);
        if (Exchange(frame, START_REQUEST_LENGTH, START_REPLY_TIMEOUT_MS) &&
            frame.ReplyLength() >= 1 && frame.ReplyByte(0) == CMD_START_PROGRAMMING) {
            return true;
        }
    }
    return false;
}

enum class Readiness { Ready, NotReady, NoReply };

Readiness AwaitReadiness(FrameBuffer& frame) {
    for (int attempt = 0; attempt < READY_QUERY_ATTEMPTS; ++attempt) {
        frame.bytes[0] = CMD_BLOCK;
        PutLittleEndian(&frame.bytes[1], READY_QUERY_BLOCK, 2);
        std::uint16_t status = 0;
        if (Exchange(frame, BLOCK_HEADER_LENGTH, REPLY_TIMEOUT_MS) && ReplyNumber(frame, status)) {
            return status == 0 ? Readiness::Ready : Readiness::NotReady;
        }
    }
    return Readiness::NoReply;
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
    StatusLog(BURNING_LINE);
    if (!AnnounceImage(frame, image.totalLength)) {
        return RunEnding::ProgrammingFailed;
    }
    switch (AwaitReadiness(frame)) {
        case Readiness::Ready:
            break;
        case Readiness::NotReady:
            return RunEnding::TesterNotReady;
        case Readiness::NoReply:
            return RunEnding::ProgrammingFailed;
    }
    for (std::uint32_t block = 0; block * BLOCK_SIZE < image.totalLength; ++block) {
        if (!SendBlock(frame, image, block)) {
            return RunEnding::ProgrammingFailed;
        }
    }
    StatusLog(COMPLETE_LINE);
    return RunEnding::ProgrammingComplete;
}

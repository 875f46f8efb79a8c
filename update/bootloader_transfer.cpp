#include "update/bootloader_transfer.h"

#include <algorithm>
#include <cstring>

#include "update/run_host.h"
#include "update/run_stop.h"
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

// How one request, with its resends, came out.
enum class Outcome { Accepted, Failed, Stopped };

// Sends the start request until the bootloader accepts it; `sends` is how many it took.
Outcome AnnounceImage(FrameBuffer& frame, std::uint32_t totalLength, int& sends) {
    for (sends = 1; sends <= START_ATTEMPTS; ++sends) {
        if (RunStopRequested()) {
            return Outcome::Stopped;
        }
        frame.bytes[0] = CMD_START_PROGRAMMING;
        std::memcpy(&frame.bytes[1], START_MAGIC, sizeof START_MAGIC);
        PutLittleEndian(&frame.bytes[5], totalLength, 4);
        if (Exchange(frame, START_REQUEST_LENGTH, START_REPLY_TIMEOUT_MS) &&
            frame.ReplyLength() >= 1 && frame.ReplyByte(0) == CMD_START_PROGRAMMING) {
            return Outcome::Accepted;
        }
    }
    return Outcome::Failed;
}

enum class Readiness { Ready, NotReady, NoReply, Stopped };

Readiness AwaitReadiness(FrameBuffer& frame, int& queries) {
    for (queries = 1; queries <= READY_QUERY_ATTEMPTS; ++queries) {
        if (RunStopRequested()) {
            return Readiness::Stopped;
        }
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

Outcome SendBlock(FrameBuffer& frame, const FirmwareImage& image, std::uint32_t block) {
    const std::uint32_t offset = block * static_cast<std::uint32_t>(BLOCK_SIZE);
    const std::uint32_t dataLength =
        std::min<std::uint32_t>(BLOCK_SIZE, image.totalLength - offset);
    for (int attempt = 0; attempt < BLOCK_ATTEMPTS; ++attempt) {
        if (RunStopRequested()) {
            return Outcome::Stopped;
        }
        // The reply lands over the request, so every send rebuilds it.
        frame.bytes[0] = CMD_BLOCK;
        PutLittleEndian(&frame.bytes[1], block, 2);
        std::memcpy(&frame.bytes[BLOCK_HEADER_LENGTH], image.bytes + offset, dataLength);
        std::uint16_t acknowledged = 0;
        if (Exchange(frame, BLOCK_HEADER_LENGTH + dataLength, REPLY_TIMEOUT_MS) &&
            ReplyNumber(frame, acknowledged) && acknowledged == block) {
            return Outcome::Accepted;
        }
    }
    return Outcome::Failed;
}

RunEnding EndingOf(Outcome outcome) {
    return outcome == Outcome::Stopped ? RunEnding::Interrupted : RunEnding::ProgrammingFailed;
}

}  // namespace

RunEnding TransferImage(FrameBuffer& frame, const FirmwareImage& image) {
    // Block numbers stop short of the readiness query's; a longer image cannot be numbered.
    if (image.totalLength > MAX_IMAGE_LENGTH) {
        return RunEnding::ProgrammingFailed;
    }
    StatusLog(RunTextOf(RunText::BurningLine));
    int starts = 0;
    const Outcome announced = AnnounceImage(frame, image.totalLength, starts);
    if (announced != Outcome::Accepted) {
        return EndingOf(announced);
    }
    int queries = 0;
    switch (AwaitReadiness(frame, queries)) {
        case Readiness::Ready:
            break;
        case Readiness::NotReady:
            return RunEnding::TesterNotReady;
        case Readiness::NoReply:
            return RunEnding::ProgrammingFailed;
        case Readiness::Stopped:
            return RunEnding::Interrupted;
    }
    if (starts > 1 || queries > 1) {
        SettleLine(frame);
    }
    TransferProgress progress;
    progress.blockCount =
        static_cast<std::uint32_t>((image.totalLength + BLOCK_SIZE - 1) / BLOCK_SIZE);
    progress.totalBytes = image.totalLength;
    ReportProgress(progress);
    for (std::uint32_t block = 0; block < progress.blockCount; ++block) {
        const Outcome sent = SendBlock(frame, image, block);
        if (sent != Outcome::Accepted) {
            return EndingOf(sent);
        }
        progress.blocksAcknowledged = block + 1;
        progress.bytesAcknowledged =
            std::min<std::uint32_t>(image.totalLength, progress.blocksAcknowledged *
                                                           static_cast<std::uint32_t>(BLOCK_SIZE));
        ReportProgress(progress);
    }
    StatusLog(RunTextOf(RunText::CompleteLine));
    return RunEnding::ProgrammingComplete;
}

// Fuzzing what the tester sends: the fuzzer's bytes reach the PC at times it chooses, and either
// the frame receiver alone or the whole bootloader transfer, with its judging of every reply,
// has to cope. Each input must leave the receiver's buffer in bounds, every wait within what its
// timeout allows, and the transfer ending in one of its three ways with no more sends than its
// retry limits give. A broken rule aborts, so that libFuzzer keeps the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/frame_codec.h"
#include "link/tester_discovery.h"
#include "sim/sim_clock.h"
#include "sim/sim_world.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_world.h"
#include "update/bootloader_transfer.h"
#include "update/firmware_image.h"
#include "update/run_ending.h"
#include "update/run_texts.h"
#include "update/tester_commands.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void Broken(const char* rule) {
    std::fprintf(stderr, "broken: %s\n", rule);
    std::abort();
}

void Check(bool holds, const char* rule) {
    if (!holds) {
        Broken(rule);
    }
}

// The fuzzer's bytes, taken in order; past the end everything reads as zero.
struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    bool Done() const { return at >= size; }
    Bytes Take(std::size_t count) {
        const std::size_t n = std::min(count, size - std::min(at, size));
        Bytes bytes(data + at, data + at + n);
        at += n;
        return bytes;
    }
};

constexpr std::int64_t OVERRUN_NS = NS_PER_MS;

// The longest one ReceiveFrame may last on this line, as the receiver states it.
std::int64_t WaitBoundNs(std::uint32_t timeoutMs) {
    return ReceiveFrameLongestNs(timeoutMs, OVERRUN_NS);
}

// A world with one device that is no tester: the fuzzer plays the tester's side.
void OpenLink() {
    SimScenario scenario;
    scenario.devices = {{.serial = "ZVKD0001", .isTester = false}};
    scenario.timing.readOverrunNs = OVERRUN_NS;
    scenario.keepCallLog = false;
    ResetTestWorld(scenario);
    Check(FindAndOpenTester() == TesterSearchResult::TesterOpened, "the link opens");
}

// The receiver's last three reads, for comparing with the frame it returns: a frame is read as
// its STX, its length, then its body.
Bytes lastReads[3];
int readCount = 0;
void NoteRead(const SimCall& call) {
    if (call.function == "FT_Read") {
        lastReads[0] = std::move(lastReads[1]);
        lastReads[1] = std::move(lastReads[2]);
        lastReads[2] = call.bytes;
        ++readCount;
    }
}

// Chunks of bytes at moments the fuzzer picks, then ReceiveFrame called over and over, as the
// link calls it, so that what one call leaves is read by the next.
void FuzzReceiver(Input& in) {
    OpenLink();
    // Up to about a second: longer waits only take longer to fuzz, a garbage stream being read
    // one byte at a time.
    const std::uint32_t timeoutMs = in.Byte() * 4u;
    std::int64_t at = 0;
    if (in.Byte() & 1) {
        StartGarbage(SimLine(), in.Byte() * 10 * NS_PER_MS);
    }
    while (!in.Done()) {
        at += in.Byte() * 4 * NS_PER_MS;
        const Bytes bytes = in.Take(in.Byte());
        QueueForHost(SimLine(), bytes, at);
    }
    auto* frame = new FrameBuffer;
    ObserveSimCalls(NoteRead);
    for (int call = 0; call < 4; ++call) {
        std::memset(frame->bytes, 0xEE, sizeof frame->bytes);
        readCount = 0;
        const std::int64_t start = SimNow();
        const bool whole = ReceiveFrame(*frame, timeoutMs);
        const std::int64_t elapsed = SimNow() - start;
        if (std::getenv("FUZZ_TRACE") != nullptr) {
            std::fprintf(stderr, "receive within %u ms: %s after %.3f ms\n", timeoutMs,
                         whole ? "frame" : "none", static_cast<double>(elapsed) / NS_PER_MS);
        }
        Check(elapsed <= WaitBoundNs(timeoutMs), "a wait lasts no longer than its timeout allows");
        Check(frame->bytes[FRAME_BUFFER_SIZE - 1] == 0xEE, "nothing lands past the longest frame");
        if (!whole) {
            Check(elapsed > static_cast<std::int64_t>(timeoutMs) * NS_PER_MS,
                  "no reply only once the deadline has passed");
            // What comes too late for one call is there for the next.
            continue;
        }
        // A frame is the last three reads: STX, its length, then exactly that many bytes and two.
        Check(readCount >= 3, "a frame takes three reads");
        const std::uint8_t length = frame->ReplyLength();
        Check(lastReads[0] == Bytes{FRAME_STX} && lastReads[1] == Bytes{length} &&
                  lastReads[2].size() == length + 2u,
              "the frame is STX, length and body as read");
        Check(std::memcmp(frame->bytes + 2, lastReads[2].data(), length + 2u) == 0,
              "the body stands from byte 2");
    }
    ObserveSimCalls(nullptr);
    delete frame;
}

// The transfer against a tester whose every reply is the fuzzer's: each frame the PC writes
// brings the next chunk of bytes onto the line, after a delay the fuzzer picks.
Input* replies = nullptr;
int writes = 0;
void AnswerWrite(const SimCall& call) {
    if (call.function != "FT_Write") {
        return;
    }
    ++writes;
    std::uint8_t check = 0;
    for (const std::uint8_t b : call.bytes) {
        check ^= b;
    }
    Check(call.bytes.size() >= 4 && call.bytes[0] == FRAME_STX && call.bytes.back() == FRAME_ETX &&
              call.bytes[1] + 4u == call.bytes.size() && check == 0,
          "every request is a well-formed frame");
    const std::int64_t delay = replies->Byte() * 8 * NS_PER_MS;
    QueueForHost(SimLine(), replies->Take(replies->Byte()), call.atNs + delay);
}

void FuzzTransfer(Input& in) {
    OpenLink();
    const std::uint32_t fileLength = in.Byte() * 3u;
    std::vector<std::uint8_t> buffer(fileLength + 5);
    for (std::uint32_t i = 0; i < fileLength; ++i) {
        buffer[i] = static_cast<std::uint8_t>(i * 7);
    }
    FirmwareImage image;
    image.bytes = buffer.data();
    image.totalLength = CompleteFirmwareImage(buffer.data(), fileLength);
    const std::uint32_t blocks = (image.totalLength + BLOCK_SIZE - 1) / BLOCK_SIZE;

    replies = &in;
    writes = 0;
    ObserveSimCalls(AnswerWrite);
    auto* frame = new FrameBuffer;
    const std::int64_t start = SimNow();
    const RunEnding ending = TransferImage(*frame, image);
    const std::int64_t elapsed = SimNow() - start;
    ObserveSimCalls(nullptr);
    delete frame;

    Check(ending == RunEnding::ProgrammingComplete || ending == RunEnding::ProgrammingFailed ||
              ending == RunEnding::TesterNotReady,
          "the transfer ends in one of its three ways");
    Check(writes <= 3 + 3 + 4 * static_cast<int>(blocks), "no more sends than the limits allow");
    Check(ending != RunEnding::ProgrammingComplete || writes >= 2 + static_cast<int>(blocks),
          "completion needs a start, a readiness query and every block");
    const std::int64_t bound =
        3 * WaitBoundNs(START_REPLY_TIMEOUT_MS) +
        (3 + 4 * static_cast<std::int64_t>(blocks)) * WaitBoundNs(REPLY_TIMEOUT_MS);
    Check(elapsed <= bound, "the transfer lasts no longer than its retries and timeouts allow");
    int burning = 0, complete = 0;
    for (const HostEvent& e : TestHost().events) {
        burning += e.text == RunTextOf(RunText::BurningLine) ? 1 : 0;
        complete += e.text == RunTextOf(RunText::CompleteLine) ? 1 : 0;
    }
    if (std::getenv("FUZZ_TRACE") != nullptr) {
        std::fprintf(stderr, "transfer of %u blocks: ending %d after %d writes, %.3f s\n", blocks,
                     static_cast<int>(ending), writes, static_cast<double>(elapsed) / NS_PER_S);
    }
    Check(burning == 1, "the burning line once");
    Check(complete == (ending == RunEnding::ProgrammingComplete ? 1 : 0),
          "the completion line exactly when complete");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    if (in.Byte() & 1) {
        FuzzTransfer(in);
    } else {
        FuzzReceiver(in);
    }
    return 0;
}

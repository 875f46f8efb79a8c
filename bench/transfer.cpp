// How long a firmware transfer takes on the simulated link at its real speed (115200 baud 8N1,
// the chip's 16 ms latency timer, the tester answering in 1 ms), against the least the link
// itself allows for stop-and-wait, worked out here from the frame sizes alone; and what the
// updater costs the PC meanwhile. Time on the link is virtual; CPU time and memory are real.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "link/frame_codec.h"
#include "sim/sim_clock.h"
#include "sim/sim_world.h"
#include "tests/support/memory_firmware_folder.h"
#include "tests/support/pattern_bytes.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_world.h"
#include "update/firmware_image.h"
#include "update/run_ending.h"
#include "update/run_texts.h"
#include "update/tester_commands.h"
#include "update/update_run.h"

namespace {

// The link as the chip and the tester make it, stated apart from the simulator's own numbers.
constexpr double BAUD = 115200;
constexpr double BITS_PER_BYTE = 10;  // 8N1
constexpr double BYTE_MS = 1000.0 * BITS_PER_BYTE / BAUD;
constexpr double LATENCY_MS = 16;
constexpr double CHIP_PACKET_BYTES = 62;
constexpr double ANSWER_MS = 1;
constexpr double ERASE_MS = 200;
// Reply payloads: identify 3, enter bootloader 1, start 2, readiness and acknowledgements 3.
constexpr std::size_t FRAME_BYTES = 4;

// A reply shorter than the chip's packet waits in the chip until the latency timer runs out,
// counted from its first byte; a longer one is sent on as soon as a packet is full.
double ReplyVisibleMs(std::size_t replyBytes) {
    if (replyBytes < CHIP_PACKET_BYTES) {
        return std::max(replyBytes * BYTE_MS, BYTE_MS + LATENCY_MS);
    }
    return replyBytes * BYTE_MS;
}

// One stop-and-wait exchange: the request on the wire, the tester's answer time, the reply
// until the PC can read it.
double ExchangeMs(std::size_t requestPayload, std::size_t replyPayload, double extraMs = 0) {
    return (requestPayload + FRAME_BYTES) * BYTE_MS + ANSWER_MS + extraMs +
           ReplyVisibleMs(replyPayload + FRAME_BYTES);
}

double BlocksBoundMs(std::uint32_t totalLength) {
    double ms = 0;
    for (std::uint32_t offset = 0; offset < totalLength; offset += BLOCK_SIZE) {
        const std::size_t data = std::min<std::uint32_t>(BLOCK_SIZE, totalLength - offset);
        ms += ExchangeMs(BLOCK_HEADER_LENGTH + data, 3);
    }
    return ms;
}

// Everything before the first block: identify, whose reply comes in during the pause after it;
// enter bootloader and its pause; start with the tester's erase; readiness.
double FixedMs() {
    return std::max<double>(IDENTIFY_PAUSE_MS, ExchangeMs(1, 3)) + ExchangeMs(1, 1) +
           BOOTLOADER_START_PAUSE_MS + ExchangeMs(START_REQUEST_LENGTH, 2, ERASE_MS) +
           ExchangeMs(BLOCK_HEADER_LENGTH, 3);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The virtual time of the first block's write, seen through the device library's calls.
std::int64_t firstBlockAtNs = -1;
void NoteFirstBlock(const SimCall& call) {
    if (firstBlockAtNs < 0 && call.function == "FT_Write" && call.bytes.size() > 7 &&
        call.bytes[2] == CMD_BLOCK && call.bytes[3] == 0 && call.bytes[4] == 0) {
        firstBlockAtNs = call.atNs;
    }
}

struct Result {
    bool complete = false;
    std::uint32_t totalLength = 0;
    std::uint32_t blocks = 0;
    double transferMs = 0;  // first block written to last block acknowledged
    double runMs = 0;
    double cpuSeconds = 0;
};

Result Measure(std::size_t fileLength) {
    SimScenario scenario;
    scenario.keepCallLog = false;
    ResetTestWorld(scenario);
    PutFirmwareFile(u"VIVAD-h2.0.bin", PatternBytes(fileLength, 2));
    firstBlockAtNs = -1;
    ObserveSimCalls(NoteFirstBlock);

    Result r;
    const double cpuBefore = CpuSeconds();
    const RunEnding ending = UpdateRun();
    r.cpuSeconds = CpuSeconds() - cpuBefore;
    ObserveSimCalls(nullptr);

    r.runMs = static_cast<double>(SimNow()) / NS_PER_MS;
    r.totalLength = SimTester().image.announcedLength;
    r.blocks = static_cast<std::uint32_t>((r.totalLength + BLOCK_SIZE - 1) / BLOCK_SIZE);
    r.complete = ending == RunEnding::ProgrammingComplete && SimTester().image.crcGood;
    for (const HostEvent& e : TestHost().events) {
        if (e.kind == HostEvent::Kind::Line && e.text == RunTextOf(RunText::CompleteLine)) {
            r.transferMs = static_cast<double>(e.atNs - firstBlockAtNs) / NS_PER_MS;
        }
    }
    return r;
}

std::string Size(std::size_t bytes) {
    char text[32];
    if (bytes % (1024 * 1024) == 0) {
        std::snprintf(text, sizeof text, "%zu MiB", bytes / (1024 * 1024));
    } else if (bytes % 1024 == 0) {
        std::snprintf(text, sizeof text, "%zu KiB", bytes / 1024);
    } else {
        std::snprintf(text, sizeof text, "%zu B", bytes);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    // The link bound alone, for the benchmark of the command line on the real-time link.
    if (argc == 3 && std::string(argv[1]) == "--link-bound-ms") {
        const auto file = static_cast<std::uint32_t>(std::stoul(argv[2]));
        std::printf("%.3f\n", BlocksBoundMs(static_cast<std::uint32_t>(FirmwareImageLength(file))));
        return 0;
    }
    // The largest image whose blocks can all be numbered, CRC trailer included.
    const std::size_t largestFile = MAX_IMAGE_LENGTH - 4;
    const std::size_t files[] = {4 * 1024, 64 * 1024, 1024 * 1024, largestFile};

    std::printf(
        "| file | image bytes | blocks | transfer (virtual) | link bound | ratio | whole run "
        "(virtual) | fixed waits + bound | ratio | CPU per block |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    bool ok = true;
    long peakAfterOneMiB = 0;
    for (const std::size_t file : files) {
        const Result r = Measure(file);
        const double linkMs = BlocksBoundMs(r.totalLength);
        const double wholeMs = FixedMs() + linkMs;
        const double transferRatio = r.transferMs / linkMs;
        const double runRatio = r.runMs / wholeMs;
        std::printf(
            "| %s | %u | %u | %.3f s | %.3f s | %.4f | %.3f s | %.3f s | %.4f | %.2f us |\n",
            Size(file).c_str(), r.totalLength, r.blocks, r.transferMs / 1000, linkMs / 1000,
            transferRatio, r.runMs / 1000, wholeMs / 1000, runRatio, 1e6 * r.cpuSeconds / r.blocks);
        // The updater adds no waiting of its own to what the link needs.
        if (!r.complete || transferRatio > 1.01 || runRatio > 1.01) {
            std::printf("^ not complete, or slower than the link allows\n");
            ok = false;
        }
        if (file == 1024 * 1024) {
            peakAfterOneMiB = PeakResidentKiB();
        }
    }
    std::printf(
        "\npeak resident memory of this benchmark process up to and including the 1 MiB "
        "run (simulated tester, in-memory firmware file and the updater): %ld KiB\n",
        peakAfterOneMiB);
    if (argc > 1) {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(argv[1], error);
        if (error) {
            std::printf("%s: not built\n", argv[1]);
        } else {
            std::printf("%s: %ju bytes\n", argv[1], static_cast<std::uintmax_t>(bytes));
        }
    }
    return ok ? 0 : 1;
}

// Replaying whole update runs against the simulated tester and judging each one by the rules
// every run must keep, whatever the line did to it: it ends, through one of its endings, with
// exactly that ending's message; "Programming complete." only for an image the tester really
// holds; no wait longer than its timeout allows; nothing written once the run has failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/serial_line.h"
#include "sim/sim_world.h"
#include "tests/support/recording_host.h"
#include "update/run_ending.h"

using Bytes = std::vector<std::uint8_t>;

// How often the bootloader's commands may be sent in all, stated here apart from the updater's
// own constants so that a changed limit there shows up as broken runs here.
constexpr int START_SENDS = 3;
constexpr int READY_QUERY_SENDS = 3;
constexpr int BLOCK_SENDS = 4;

// What the bootloader must hold after `file` was sent: the bytes, a 0xFF pad to even length, the
// CRC-32 trailer. Built here with the simulator's bitwise CRC, apart from the updater's table.
Bytes ImageOf(const Bytes& file);

// Blocks an image of `totalLength` bytes is cut into.
std::uint32_t BlockCount(std::uint32_t totalLength);

// The longest one ReceiveFrame may last on this line: the receiver's own bound
// (ReceiveFrameLongestNs in link/frame_codec.h) with the line's read overrun.
std::int64_t WaitBoundNs(std::uint32_t timeoutMs, const LineTiming& timing);

// The longest a whole run may last with every command taking all its attempts, each waiting its
// longest, every pause, and the wire time of every frame it may send.
std::int64_t RunBoundNs(std::uint32_t totalLength, const LineTiming& timing);

// The firmware folder and world of one sweep run: a revision-2 tester and both image files,
// which differ, so that an image sent for the wrong revision is told apart.
struct SweepSetup {
    std::size_t fileLength = 64 * 1024;
    FaultScript faults;
    LineTiming timing;
};

struct RunVerdict {
    RunEnding ending = RunEnding::Cancelled;
    std::vector<std::string> problems;
    bool falseSuccess = false;
    // The run succeeded with the revision-1 image on this revision-2 tester.
    bool wrongRevisionImage = false;
    std::int64_t durationNs = 0;
    std::int64_t boundNs = 0;
    // The longest gap between two writes (or before the first, or after the last) against the
    // bound its command's pauses and wait give; at most 1.
    double worstGapRatio = 0;
    std::size_t writes = 0;
};

// Starts a fresh world, runs UpdateRun() once and judges it.
RunVerdict RunAndJudge(const SweepSetup& setup);

// The image the run must have sent, by the firmware file it opened last: `image1` for
// VIVAD-h1.0.bin, `image2` for the other. Null when the run opened none: the test folder's list
// of opened paths is no longer than `pathsOpenedBefore`, its length before the run.
const Bytes* ExpectedImage(std::size_t pathsOpenedBefore, const Bytes& image1, const Bytes& image2);

// Judges one run from its calls to the device library and its share of the host's events.
// `expectedImage` is the image of the file the run loaded, or null when it loaded none.
RunVerdict JudgeRun(RunEnding ending, const std::vector<SimCall>& calls,
                    const std::vector<HostEvent>& events, std::size_t firstEvent,
                    const TesterModel& tester, const Bytes* expectedImage, std::int64_t startNs,
                    std::int64_t endNs, const LineTiming& timing);

// Counts of outcomes over many runs, and the one-line summary of them.
struct SweepTally {
    std::size_t runs = 0;
    std::size_t successes = 0;
    std::map<std::string, std::size_t> failuresByMessage;
    std::size_t falseSuccesses = 0;
    std::size_t wrongRevisionImages = 0;
    std::size_t runsWithProblems = 0;
    std::int64_t longestNs = 0;
    std::int64_t longestBoundNs = 0;
    double worstGapRatio = 0;

    void Add(const RunVerdict& verdict);
    std::string Summary(const std::string& title) const;
};

std::string Narrow(std::u16string_view text);
// The first line of the ending's message, or a word in brackets for an ending without one.
std::string EndingLabel(RunEnding ending);
std::string DescribeFaults(const FaultScript& faults);

#include "tests/sweep/run_checks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "link/frame_codec.h"
#include "sim/sim_clock.h"
#include "tests/support/memory_firmware_folder.h"
#include "tests/support/pattern_bytes.h"
#include "tests/support/test_world.h"
#include "update/firmware_image.h"
#include "update/run_texts.h"
#include "update/tester_commands.h"
#include "update/update_run.h"

namespace {

enum class Request { Identify, Probe, EnterBootloader, Start, Ready, Block, Unknown };

struct Write {
    Request request = Request::Unknown;
    Bytes frame;
    std::uint32_t block = 0;
    std::int64_t atNs = 0;
};

Request RequestOf(const Bytes& frame, std::uint32_t& block) {
    if (frame.size() < 5) {
        return Request::Unknown;
    }
    const Bytes payload(frame.begin() + 2, frame.end() - 2);
    switch (payload[0]) {
        case CMD_IDENTIFY:
            return Request::Identify;
        case CMD_PROBE_REV1:
            return Request::Probe;
        case CMD_ENTER_BOOTLOADER:
            return Request::EnterBootloader;
        case CMD_START_PROGRAMMING:
            return Request::Start;
        case CMD_BLOCK:
            if (payload.size() < BLOCK_HEADER_LENGTH) {
                return Request::Unknown;
            }
            block = static_cast<std::uint32_t>(payload[1] | (payload[2] << 8));
            if (payload.size() == BLOCK_HEADER_LENGTH && block == READY_QUERY_BLOCK) {
                return Request::Ready;
            }
            return Request::Block;
        default:
            return Request::Unknown;
    }
}

std::int64_t WireNs(std::size_t bytes, const LineTiming& timing) {
    return static_cast<std::int64_t>(bytes) * timing.ByteNs();
}

// The longest the updater may take from writing a request to writing the next one: its pause
// before waiting, the wait, its pause after, and the request's own time on the wire.
std::int64_t GapBoundNs(const Write& write, const LineTiming& timing) {
    const std::int64_t wire = WireNs(write.frame.size(), timing);
    switch (write.request) {
        case Request::Identify:
        case Request::Probe:
            return IDENTIFY_PAUSE_MS * NS_PER_MS + WaitBoundNs(IDENTIFY_REPLY_TIMEOUT_MS, timing) +
                   wire;
        case Request::EnterBootloader:
            return WaitBoundNs(BOOTLOADER_REPLY_TIMEOUT_MS, timing) +
                   BOOTLOADER_START_PAUSE_MS * NS_PER_MS + wire;
        case Request::Start:
            return WaitBoundNs(START_REPLY_TIMEOUT_MS, timing) + wire;
        case Request::Ready:
        case Request::Block:
            return WaitBoundNs(REPLY_TIMEOUT_MS, timing) + wire;
        case Request::Unknown:
            break;
    }
    return 0;
}

int AttemptLimit(Request request) {
    switch (request) {
        case Request::Start:
            return START_SENDS;
        case Request::Ready:
            return READY_QUERY_SENDS;
        case Request::Block:
            return BLOCK_SENDS;
        default:
            return 1;
    }
}

bool IsKnownEnding(RunEnding ending) {
    switch (ending) {
        case RunEnding::ProgrammingComplete:
        case RunEnding::NoTester:
        case RunEnding::NoReply:
        case RunEnding::SeveralTesters:
        case RunEnding::OpenFailed:
        case RunEnding::Cancelled:
        case RunEnding::FirmwareNotFound:
        case RunEnding::FirmwareUnreadable:
        case RunEnding::ProgrammingFailed:
        case RunEnding::TesterNotReady:
            return true;
        // Nothing in a sweep asks the run to stop or names a revision, so these never belong.
        case RunEnding::Interrupted:
        case RunEnding::RevisionContradicts:
            return false;
    }
    return false;
}

}  // namespace

std::string EndingLabel(RunEnding ending) {
    const std::u16string_view message = EndingMessage(ending);
    if (!message.empty()) {
        // The first line names it well enough in a summary.
        return Narrow(message.substr(0, message.find(u'\n')));
    }
    switch (ending) {
        case RunEnding::ProgrammingComplete:
            return "(complete)";
        case RunEnding::OpenFailed:
            return "(open failed)";
        case RunEnding::Cancelled:
            return "(cancelled)";
        default:
            return "(?)";
    }
}

namespace {

// The rules on what was written: each command at most as often as its attempts allow, in the
// run's order, and the last write the one that settled the ending, so that nothing went out
// after the run had failed.
void JudgeWrites(RunEnding ending, const std::vector<Write>& writes, std::uint32_t blockCount,
                 std::vector<std::string>& problems) {
    const auto problem = [&](const std::string& text) { problems.push_back(text); };
    // Consecutive identical frames are attempts of one request.
    int sameAsBefore = 0;
    int phase = -1;
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const Write& w = writes[i];
        if (w.request == Request::Unknown) {
            problem("write " + std::to_string(i) + " is no request of the run");
            continue;
        }
        sameAsBefore = i > 0 && writes[i - 1].frame == w.frame ? sameAsBefore + 1 : 1;
        if (sameAsBefore > AttemptLimit(w.request)) {
            problem("write " + std::to_string(i) + " is attempt " + std::to_string(sameAsBefore) +
                    " of one request");
        }
        const int wPhase = static_cast<int>(w.request);
        if (wPhase < phase) {
            problem("write " + std::to_string(i) + " goes back to an earlier phase");
        }
        if (w.request == Request::Block && i > 0 && writes[i - 1].request == Request::Block &&
            w.block != writes[i - 1].block && w.block != writes[i - 1].block + 1) {
            problem("block " + std::to_string(w.block) + " follows block " +
                    std::to_string(writes[i - 1].block));
        }
        if (w.request == Request::Block && (i == 0 || writes[i - 1].request != Request::Block) &&
            w.block != 0) {
            problem("the first block sent is " + std::to_string(w.block));
        }
        if (w.request == Request::Block && w.block >= blockCount) {
            problem("block " + std::to_string(w.block) + " is past the image");
        }
        phase = std::max(phase, wPhase);
    }
    for (Request once : {Request::Identify, Request::Probe, Request::EnterBootloader}) {
        if (std::count_if(writes.begin(), writes.end(),
                          [&](const Write& w) { return w.request == once; }) > 1) {
            problem("an identification command went out twice");
        }
    }

    const Write* last = writes.empty() ? nullptr : &writes.back();
    const auto lastIs = [&](std::initializer_list<Request> requests) {
        return last != nullptr &&
               std::find(requests.begin(), requests.end(), last->request) != requests.end();
    };
    const bool anyStart = std::any_of(writes.begin(), writes.end(),
                                      [](const Write& w) { return w.request == Request::Start; });
    switch (ending) {
        case RunEnding::NoTester:
        case RunEnding::SeveralTesters:
        case RunEnding::OpenFailed:
            if (!writes.empty()) {
                problem("frames written though no tester was opened");
            }
            break;
        case RunEnding::NoReply:
            if (writes.size() != 2 || !lastIs({Request::Probe})) {
                problem("no-reply ending after other writes than identify and probe");
            }
            break;
        case RunEnding::Cancelled:
            if (writes.size() != 1 || !lastIs({Request::Identify})) {
                problem("cancelled after other writes than the identify command");
            }
            break;
        case RunEnding::FirmwareNotFound:
        case RunEnding::FirmwareUnreadable:
            if (anyStart ||
                !lastIs({Request::Identify, Request::Probe, Request::EnterBootloader})) {
                problem("bootloader commands sent without an image");
            }
            break;
        case RunEnding::ProgrammingFailed:
            if (!anyStart) {
                // Only an image too long to number fails before its start command.
                if (!lastIs({Request::Identify, Request::Probe, Request::EnterBootloader})) {
                    problem("failed before the start command after other writes");
                }
            } else if (!lastIs({Request::Start, Request::Ready, Request::Block}) ||
                       sameAsBefore != AttemptLimit(last->request)) {
                problem("failed after " + std::to_string(sameAsBefore) +
                        " attempts of its last request rather than all of them");
            }
            break;
        case RunEnding::TesterNotReady:
            if (!lastIs({Request::Ready})) {
                problem("not-ready ending whose last write is no readiness query");
            }
            break;
        case RunEnding::ProgrammingComplete:
            if (!lastIs({Request::Block}) || last->block + 1 != blockCount) {
                problem("complete, but the last write is not the image's last block");
            }
            break;
        case RunEnding::Interrupted:
        case RunEnding::RevisionContradicts:
            // No sweep run may end so: JudgeRun has already recorded it as no known ending. Its
            // writes are still judged by the rules above; there is no rule here for its last.
            break;
    }
}

// A run that does not end would hang the sweep until the test runner's own limit, with no word
// of which faults did it. Every device-library call is watched instead: past the run's bound in
// virtual time, or past a call count no run can need, the case is named and the process stops.
struct Watch {
    std::string caseName;
    std::int64_t startNs = 0;
    std::int64_t limitNs = 0;
    std::uint64_t calls = 0;
};
Watch watch;
constexpr std::uint64_t CALLS_NO_RUN_NEEDS = 200'000'000;

void WatchCall(const SimCall& call) {
    ++watch.calls;
    if (call.atNs - watch.startNs > watch.limitNs || watch.calls > CALLS_NO_RUN_NEEDS) {
        std::fprintf(stderr, "the run does not end: %s (%llu calls, %.3f s)\n",
                     watch.caseName.c_str(), static_cast<unsigned long long>(watch.calls),
                     static_cast<double>(call.atNs - watch.startNs) / NS_PER_S);
        std::abort();
    }
}

}  // namespace

std::string Narrow(std::u16string_view text) {
    std::string narrow;
    for (const char16_t c : text) {
        narrow += c == u'\n' ? ' ' : static_cast<char>(c);
    }
    while (!narrow.empty() && narrow.back() == ' ') {
        narrow.pop_back();
    }
    return narrow;
}

std::string DescribeFaults(const FaultScript& faults) {
    std::string text;
    for (const auto& [request, fault] : faults) {
        text += (text.empty() ? "" : ", ") + std::string(FaultKindName(fault.kind)) + "@" +
                std::to_string(request);
    }
    return text.empty() ? "no fault" : text;
}

Bytes ImageOf(const Bytes& file) {
    Bytes image = file;
    if (image.size() % 2 != 0) {
        image.push_back(0xFF);
    }
    const std::uint32_t crc = ReferenceCrc32(image.data(), image.size());
    for (int i = 0; i < 4; ++i) {
        image.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    }
    return image;
}

std::uint32_t BlockCount(std::uint32_t totalLength) {
    return static_cast<std::uint32_t>((totalLength + BLOCK_SIZE - 1) / BLOCK_SIZE);
}

std::int64_t WaitBoundNs(std::uint32_t timeoutMs, const LineTiming& timing) {
    return ReceiveFrameLongestNs(timeoutMs, timing.readOverrunNs);
}

std::int64_t RunBoundNs(std::uint32_t totalLength, const LineTiming& timing) {
    const auto frame = [&](std::size_t payload) { return WireNs(payload + 4, timing); };
    std::int64_t bound = 0;
    // Identify and probe: each a pause, a wait, a one-byte request.
    bound += 2 * (IDENTIFY_PAUSE_MS * NS_PER_MS + WaitBoundNs(IDENTIFY_REPLY_TIMEOUT_MS, timing) +
                  frame(1));
    bound += WaitBoundNs(BOOTLOADER_REPLY_TIMEOUT_MS, timing) +
             BOOTLOADER_START_PAUSE_MS * NS_PER_MS + frame(1);
    bound += START_ATTEMPTS *
             (WaitBoundNs(START_REPLY_TIMEOUT_MS, timing) + frame(START_REQUEST_LENGTH));
    bound +=
        READY_QUERY_ATTEMPTS * (WaitBoundNs(REPLY_TIMEOUT_MS, timing) + frame(BLOCK_HEADER_LENGTH));
    for (std::uint32_t offset = 0; offset < totalLength; offset += BLOCK_SIZE) {
        const std::uint32_t data = std::min<std::uint32_t>(BLOCK_SIZE, totalLength - offset);
        bound += BLOCK_ATTEMPTS *
                 (WaitBoundNs(REPLY_TIMEOUT_MS, timing) + frame(BLOCK_HEADER_LENGTH + data));
    }
    return bound;
}

const Bytes* ExpectedImage(std::size_t pathsOpenedBefore, const Bytes& image1,
                           const Bytes& image2) {
    const std::vector<std::u16string>& opened = TestFolder().openedPaths;
    if (opened.size() <= pathsOpenedBefore) {
        return nullptr;
    }
    return opened.back().ends_with(u"VIVAD-h1.0.bin") ? &image1 : &image2;
}

RunVerdict JudgeRun(RunEnding ending, const std::vector<SimCall>& calls,
                    const std::vector<HostEvent>& events, std::size_t firstEvent,
                    const TesterModel& tester, const Bytes* expectedImage, std::int64_t startNs,
                    std::int64_t endNs, const LineTiming& timing) {
    RunVerdict verdict;
    verdict.ending = ending;
    verdict.durationNs = endNs - startNs;
    auto& problems = verdict.problems;
    const auto problem = [&](const std::string& text) { problems.push_back(text); };

    if (!IsKnownEnding(ending)) {
        problem("the run ended in no known way");
    }

    // The user's side: PROGRAM disabled first and enabled last, the ending's message once.
    const std::u16string_view message = EndingMessage(ending);
    int disables = 0, enables = 0, errors = 0, burning = 0, complete = 0;
    std::int64_t errorAtNs = endNs;
    std::size_t burningAt = 0, completeAt = 0;
    for (std::size_t i = firstEvent; i < events.size(); ++i) {
        const HostEvent& e = events[i];
        switch (e.kind) {
            case HostEvent::Kind::Disable:
                ++disables;
                break;
            case HostEvent::Kind::Enable:
                ++enables;
                break;
            case HostEvent::Kind::Error:
                ++errors;
                errorAtNs = e.atNs;
                if (e.text != message) {
                    problem("error box says \"" + Narrow(e.text) + "\" for ending " +
                            EndingLabel(ending));
                }
                break;
            case HostEvent::Kind::Line:
                if (e.text == RunTextOf(RunText::BurningLine)) {
                    ++burning;
                    burningAt = i;
                }
                if (e.text == RunTextOf(RunText::CompleteLine)) {
                    ++complete;
                    completeAt = i;
                }
                break;
            case HostEvent::Kind::Prompt:
                break;
        }
    }
    if (firstEvent >= events.size() || events[firstEvent].kind != HostEvent::Kind::Disable ||
        disables != 1) {
        problem("PROGRAM is not disabled once, first");
    }
    if (events.empty() || events.back().kind != HostEvent::Kind::Enable || enables != 1) {
        problem("PROGRAM is not enabled once, last");
    }
    if (errors != (message.empty() ? 0 : 1)) {
        problem(std::to_string(errors) + " error boxes for ending " + EndingLabel(ending));
    }
    const bool succeeded = ending == RunEnding::ProgrammingComplete;
    if (complete != (succeeded ? 1 : 0)) {
        problem(std::to_string(complete) + " completion lines for ending " + EndingLabel(ending));
    }
    if (complete > 0 && (burning != 1 || completeAt < burningAt)) {
        problem("completion line without the burning line before it");
    }

    // What the tester holds must back every completion line.
    const ProgrammedImage& held = tester.image;
    const bool holdsImage = expectedImage != nullptr && held.complete && held.crcGood &&
                            held.received == *expectedImage;
    if ((succeeded || complete > 0) && !holdsImage) {
        verdict.falseSuccess = true;
        problem("\"Programming complete.\" but the tester holds " + DescribeVerdict(tester));
    }

    // What went out on the line.
    std::vector<Write> writes;
    std::size_t lastWriteCall = calls.size();
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].function == "FT_Write") {
            Write w;
            w.frame = calls[i].bytes;
            w.atNs = calls[i].atNs;
            w.request = RequestOf(w.frame, w.block);
            writes.push_back(std::move(w));
            lastWriteCall = i;
        }
    }
    verdict.writes = writes.size();
    const std::uint32_t totalLength =
        expectedImage != nullptr ? static_cast<std::uint32_t>(expectedImage->size()) : 0;
    JudgeWrites(ending, writes, BlockCount(totalLength), problems);
    if (burning != (std::any_of(writes.begin(), writes.end(),
                                [](const Write& w) { return w.request == Request::Start; })
                        ? 1
                        : 0)) {
        problem("the burning line does not match the start of the transfer");
    }
    // After the last write only that exchange's own receive: one timeout setting, then reads.
    if (lastWriteCall < calls.size()) {
        for (std::size_t i = lastWriteCall + 1; i < calls.size(); ++i) {
            const std::string& f = calls[i].function;
            const bool expected = i == lastWriteCall + 1 ? f == "FT_SetTimeouts" : f == "FT_Read";
            if (!expected) {
                problem(f + " after the exchange that settled the run");
                break;
            }
        }
        if (lastWriteCall + 1 >= calls.size()) {
            problem("the last request was not waited for");
        }
        if (writes.back().atNs > errorAtNs) {
            problem("a frame was written after the error box");
        }
    }

    // Time: every gap between writes within what its command's pauses and wait allow, and the
    // whole run within what all attempts of all commands allow.
    std::int64_t previousAt = startNs;
    std::int64_t previousBound = 0;
    const auto gap = [&](std::int64_t at, const std::string& where) {
        const std::int64_t length = at - previousAt;
        if (length > previousBound) {
            problem(where + " comes " + std::to_string(length / NS_PER_US) +
                    " us after the one before, bound " + std::to_string(previousBound / NS_PER_US) +
                    " us");
        }
        if (previousBound > 0) {
            verdict.worstGapRatio =
                std::max(verdict.worstGapRatio,
                         static_cast<double>(length) / static_cast<double>(previousBound));
        }
    };
    for (std::size_t i = 0; i < writes.size(); ++i) {
        gap(writes[i].atNs, "write " + std::to_string(i));
        previousAt = writes[i].atNs;
        previousBound = GapBoundNs(writes[i], timing);
    }
    gap(endNs, "the run's end");
    verdict.boundNs = RunBoundNs(totalLength, timing);
    if (verdict.durationNs > verdict.boundNs) {
        problem("the run took " + std::to_string(verdict.durationNs / NS_PER_MS) + " ms, bound " +
                std::to_string(verdict.boundNs / NS_PER_MS) + " ms");
    }
    return verdict;
}

RunVerdict RunAndJudge(const SweepSetup& setup) {
    // Each length's files and images are made once; a sweep replays them thousands of times.
    struct Files {
        Bytes revision1, revision2, image1, image2;
    };
    static std::map<std::size_t, Files> made;
    auto found = made.find(setup.fileLength);
    if (found == made.end()) {
        Files f;
        f.revision1 = PatternBytes(setup.fileLength, 1);
        f.revision2 = PatternBytes(setup.fileLength, 2);
        f.image1 = ImageOf(f.revision1);
        f.image2 = ImageOf(f.revision2);
        found = made.emplace(setup.fileLength, std::move(f)).first;
    }
    const Files& files = found->second;

    SimScenario scenario;
    scenario.timing = setup.timing;
    scenario.faults = setup.faults;
    ResetTestWorld(scenario);
    PutFirmwareFile(u"VIVAD-h1.0.bin", files.revision1);
    PutFirmwareFile(u"VIVAD-h2.0.bin", files.revision2);

    const std::int64_t startNs = SimNow();
    watch.caseName = std::to_string(setup.fileLength) + " bytes, " + DescribeFaults(setup.faults);
    watch.startNs = startNs;
    watch.limitNs = 2 * RunBoundNs(static_cast<std::uint32_t>(files.image2.size()), setup.timing);
    watch.calls = 0;
    ObserveSimCalls(WatchCall);
    const RunEnding ending = UpdateRun();
    ObserveSimCalls(nullptr);
    const std::int64_t endNs = SimNow();

    const Bytes* expected = ExpectedImage(0, files.image1, files.image2);
    RunVerdict verdict = JudgeRun(ending, SimCallLog(), TestHost().events, 0, SimTester(), expected,
                                  startNs, endNs, setup.timing);
    // Rule or no rule, say when the revision-2 tester got the revision-1 image.
    verdict.wrongRevisionImage =
        ending == RunEnding::ProgrammingComplete && expected == &files.image1;
    if (FirmwareImageBuffer != nullptr) {
        verdict.problems.push_back("the image buffer outlived the run");
    }
    return verdict;
}

void SweepTally::Add(const RunVerdict& verdict) {
    ++runs;
    if (verdict.ending == RunEnding::ProgrammingComplete) {
        ++successes;
    } else {
        ++failuresByMessage[EndingLabel(verdict.ending)];
    }
    falseSuccesses += verdict.falseSuccess ? 1 : 0;
    wrongRevisionImages += verdict.wrongRevisionImage ? 1 : 0;
    runsWithProblems += verdict.problems.empty() ? 0 : 1;
    if (verdict.durationNs > longestNs) {
        longestNs = verdict.durationNs;
        longestBoundNs = verdict.boundNs;
    }
    worstGapRatio = std::max(worstGapRatio, verdict.worstGapRatio);
}

std::string SweepTally::Summary(const std::string& title) const {
    std::ostringstream out;
    out << title << ": " << runs << " runs, " << successes << " successes, failures:";
    const char* separator = " ";
    for (const auto& [message, count] : failuresByMessage) {
        out << separator << "\"" << message << "\" " << count;
        separator = ", ";
    }
    if (failuresByMessage.empty()) {
        out << " none";
    }
    char times[160];
    std::snprintf(times, sizeof times,
                  "; longest run %.3f s of its bound %.3f s; longest wait %.1f%% of its bound",
                  static_cast<double>(longestNs) / NS_PER_S,
                  static_cast<double>(longestBoundNs) / NS_PER_S, 100.0 * worstGapRatio);
    out << "; false successes " << falseSuccesses << "; revision-1 image programmed "
        << wrongRevisionImages << times;
    return out.str();
}

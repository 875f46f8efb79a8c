// A thousand update runs, one after another in one process, as a user would make them over a
// long day: testers plugged and unplugged, faults on the line, prompts answered every way. After
// each run nothing of it may linger (no image buffer, at most the one open link, PROGRAM enabled
// again), the status list only grows, and over all of them the heap stays where it was. Every
// run is also judged by the fault sweep's rules (tests/sweep/run_checks.h).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sim/sim_clock.h"
#include "tests/support/memory_firmware_folder.h"
#include "tests/support/pattern_bytes.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_world.h"
#include "tests/sweep/run_checks.h"
#include "update/firmware_image.h"
#include "update/run_texts.h"
#include "update/update_run.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime's allocator interface, whose header not every compiler ships.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

constexpr int SOAK_RUNS = 1000;
constexpr int WARM_UP_RUNS = 100;
// What the soak's own bookkeeping may hold more at the end than after the warm-up (a tally of
// endings); never a run's image, whose smallest leak over 900 runs would be far more.
constexpr std::size_t HEAP_TOLERANCE_BYTES = 8 * 1024;
// glibc parks freed small chunks in a per-thread cache that mallinfo2 counts as in use, up to
// some hundreds of KiB. ctest turns that cache off (GLIBC_TUNABLES) so that the count is exact;
// run by hand without it, only a coarse comparison is possible.
constexpr std::size_t CACHED_HEAP_TOLERANCE_BYTES = 512 * 1024;

bool HeapCountIsExact() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    return tunables != nullptr && std::strstr(tunables, "glibc.malloc.tcache_count=0") != nullptr;
#endif
}

std::size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    // Small chunks from the heap and large ones mapped on their own.
    return info.uordblks + info.hblkhd;
#endif
}

// What is attached to the PC for a while, until the user changes it.
enum class Attached {
    Tester,
    RevisionOneTester,
    TesterInBootloader,
    NoDevice,
    OtherDevice,
    TwoTesters,
    TesterThatWillNotOpen
};

struct World {
    Attached attached = Attached::Tester;
    int runsLeft = 0;
    bool firmwareMissing = false;
    bool firmwareUnreadable = false;
    Bytes image1, image2;
};

SimScenario ScenarioFor(Attached attached) {
    SimScenario scenario;
    scenario.keepCallLog = false;
    switch (attached) {
        case Attached::Tester:
            break;
        case Attached::RevisionOneTester:
            scenario.tester.answersIdentify = false;
            break;
        case Attached::TesterInBootloader:
            scenario.tester.startsInBootloader = true;
            break;
        case Attached::NoDevice:
            scenario.devices.clear();
            break;
        case Attached::OtherDevice:
            scenario.devices = {{.serial = "FT4ABCDE", .isTester = false}};
            break;
        case Attached::TwoTesters:
            scenario.devices.push_back({.serial = "ZVKD0002"});
            break;
        case Attached::TesterThatWillNotOpen:
            scenario.devices[0].openFails = true;
            break;
    }
    return scenario;
}

// The world the heap is measured in, the same each time, so that only what runs left behind
// can differ.
constexpr std::size_t STANDARD_FILE_LENGTH = 4 * 1024;

// Replugs: a fresh set of devices and a fresh firmware folder. The link the last run left open
// stays in TesterLink, for the next run's discovery to close.
void Replug(World& world, std::mt19937& random, bool standard = false) {
    std::discrete_distribution<int> pick({70, 6, 6, 4, 4, 5, 5});
    world.attached = standard ? Attached::Tester : static_cast<Attached>(pick(random));
    world.runsLeft = std::uniform_int_distribution<int>(1, 30)(random);
    std::bernoulli_distribution rarely(0.05);
    world.firmwareMissing = !standard && rarely(random);
    world.firmwareUnreadable = !standard && rarely(random);
    const std::size_t length =
        standard ? STANDARD_FILE_LENGTH
                 : std::uniform_int_distribution<std::size_t>(1, 6 * 1024)(random);
    const Bytes file1 = PatternBytes(length, 1);
    const Bytes file2 = PatternBytes(length, 2);
    world.image1 = ImageOf(file1);
    world.image2 = ImageOf(file2);

    ReplugTestWorld(ScenarioFor(world.attached));
    PutFirmwareFile(u"VIVAD-h1.0.bin", file1);
    PutFirmwareFile(u"VIVAD-h2.0.bin", {.bytes = file2,
                                        .openFails = world.firmwareMissing,
                                        .readFails = world.firmwareUnreadable});
}

// Faults for the exchanges of the coming run, numbered on from the line's count so far.
void ScheduleFaults(std::mt19937& random) {
    std::discrete_distribution<int> faultCount({60, 30, 10});
    std::uniform_int_distribution<std::uint32_t> ahead(0, 40);
    std::uniform_int_distribution<std::size_t> kind(0, FAULT_KIND_COUNT - 1);
    SerialLine& line = SimLine();
    for (int n = faultCount(random); n > 0; --n) {
        // Unplugging and babbling last until the next replug, so they come more rarely.
        FaultKind k = FAULT_KINDS[kind(random)].kind;
        if ((k == FaultKind::Unplug || k == FaultKind::GarbageStream) && random() % 4 != 0) {
            k = FaultKind::DropReply;
        }
        line.faults.insert({line.requestCount + ahead(random), LineFault{.kind = k}});
    }
}

// The device-library calls of the run under way, for the judge; emptied, and its memory given
// back, after every run, so that it cannot blur the heap comparison.
std::vector<SimCall> runCalls;
void RecordRunCall(const SimCall& call) {
    runCalls.push_back(call);
}

struct SoakTally {
    std::map<std::string, int> endings;
    int prompts = 0;
    int maxOpenHandles = 0;
};

TEST(Soak, AThousandConsecutiveRunsLeaveNothingBehind) {
    std::mt19937 random(7031);
    World world;
    SoakTally tally;
    ResetTestWorld();
    ObserveSimCalls(RecordRunCall);
    std::size_t heapAfterWarmUp = 0;
    // The status list's last line before the run, to see that the run left it in place.
    HostEvent lastBefore{HostEvent::Kind::Enable, u"", 0};

    for (int run = 0; run < SOAK_RUNS; ++run) {
        if (run == WARM_UP_RUNS) {
            Replug(world, random, true);
            heapAfterWarmUp = HeapInUse();
        } else if (world.runsLeft <= 0) {
            Replug(world, random);
        }
        --world.runsLeft;
        ScheduleFaults(random);
        RecordingHost& host = TestHost();
        host.promptAnswers.clear();
        host.promptAnswers.push_back(static_cast<PromptAnswer>(random() % 4));
        const int verifiedBefore = SimTester().image.verifiedCount;
        const std::size_t firstEvent = host.events.size();
        const std::size_t pathsOpenedBefore = TestFolder().openedPaths.size();
        const std::int64_t startNs = SimNow();

        const RunEnding ending = UpdateRun();

        SCOPED_TRACE("run " + std::to_string(run));
        ++tally.endings[EndingLabel(ending)];
        // The sweep's rules, for this run's share of the calls and of the status list.
        const RunVerdict verdict =
            JudgeRun(ending, runCalls, host.events, firstEvent, SimTester(),
                     ExpectedImage(pathsOpenedBefore, world.image1, world.image2), startNs,
                     SimNow(), LineTiming{});
        std::vector<SimCall>().swap(runCalls);
        for (const std::string& problem : verdict.problems) {
            ADD_FAILURE() << EndingLabel(ending) << ": " << problem;
        }
        // Nothing of the run lingers but the link it opened.
        ASSERT_EQ(FirmwareImageBuffer, nullptr);
        ASSERT_LE(SimOpenHandleCount(), 1);
        tally.maxOpenHandles = std::max(tally.maxOpenHandles, SimOpenHandleCount());

        // What the sweep's rules leave open: the status list kept what it had, the run's events
        // follow it in time, and its lines are the run's own, a version line only before the
        // transfer's.
        const std::vector<HostEvent>& events = host.events;
        ASSERT_GT(events.size(), firstEvent);
        if (firstEvent > 0) {
            ASSERT_EQ(events[firstEvent - 1].kind, lastBefore.kind);
            ASSERT_EQ(events[firstEvent - 1].text, lastBefore.text);
        }
        int versions = 0;
        bool transferLineShown = false;
        for (std::size_t i = firstEvent; i < events.size(); ++i) {
            const HostEvent& e = events[i];
            ASSERT_GE(e.atNs, i > firstEvent ? events[i - 1].atNs : startNs);
            if (e.kind == HostEvent::Kind::Prompt) {
                ++tally.prompts;
            } else if (e.kind == HostEvent::Kind::Line) {
                if (e.text.starts_with(u"Current firmware version: ")) {
                    EXPECT_FALSE(transferLineShown) << "version line after the transfer's";
                    ++versions;
                } else if (e.text == RunTextOf(RunText::BurningLine) ||
                           e.text == RunTextOf(RunText::CompleteLine)) {
                    transferLineShown = true;
                } else {
                    ADD_FAILURE() << "unknown status line " << Narrow(e.text);
                }
            }
        }
        EXPECT_LE(versions, 1);
        if (ending == RunEnding::ProgrammingComplete) {
            // The image behind the completion line is one the tester has just verified.
            EXPECT_EQ(SimTester().image.verifiedCount, verifiedBefore + 1);
        }

        // Keep only the last event, for the next run's check, so that the soak's own record
        // does not grow with every run and blur the heap comparison.
        lastBefore = events.back();
        host.events.erase(host.events.begin(), host.events.end() - 1);
        host.events.shrink_to_fit();
        host.progress.clear();
        host.progress.shrink_to_fit();
        if (HasFailure()) {
            break;
        }
    }
    // The same world as after the warm-up: whatever the heap holds more now, runs left behind.
    Replug(world, random, true);
    const std::size_t heapAtEnd = HeapInUse();
    std::string endings;
    for (const auto& [name, count] : tally.endings) {
        endings += (endings.empty() ? "" : ", ") + ("\"" + name + "\" ") + std::to_string(count);
    }
    std::printf(
        "soak: %d runs; endings: %s; %d revision prompts; open handles at most %d; heap "
        "%zu bytes after %d runs, %zu after %d (%+lld)\n",
        SOAK_RUNS, endings.c_str(), tally.prompts, tally.maxOpenHandles, heapAfterWarmUp,
        WARM_UP_RUNS, heapAtEnd, SOAK_RUNS,
        static_cast<long long>(heapAtEnd) - static_cast<long long>(heapAfterWarmUp));
    if (!HeapCountIsExact()) {
        std::printf("soak: heap counted with glibc's cache on; only a coarse comparison\n");
    }
    EXPECT_LE(heapAtEnd, heapAfterWarmUp + (HeapCountIsExact() ? HEAP_TOLERANCE_BYTES
                                                               : CACHED_HEAP_TOLERANCE_BYTES));
}

}  // namespace

// Whole update runs replayed with faults on the line: every fault kind at every exchange of a
// clean 64 KiB run, then random pairs and triples of faults, then each retry limit met exactly
// and overstepped by one. Every run is held to the rules in run_checks.h.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_world.h"
#include "tests/sweep/run_checks.h"

namespace {

// The sanitizer build runs every case on a smaller image: the same exchanges of every kind,
// fewer blocks in between.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t SWEEP_FILE_LENGTH = 8 * 1024;
constexpr int RANDOM_RUNS_PER_SHAPE = 300;
#else
constexpr std::size_t SWEEP_FILE_LENGTH = 64 * 1024;
constexpr int RANDOM_RUNS_PER_SHAPE = 1000;
#endif

void Report(const RunVerdict& verdict, const std::string& caseName) {
    if (verdict.problems.empty()) {
        return;
    }
    std::string text;
    for (const std::string& p : verdict.problems) {
        text += "\n  " + p;
    }
    ADD_FAILURE() << caseName << ":" << text;
}

std::size_t CleanExchanges(std::size_t fileLength) {
    SweepSetup setup;
    setup.fileLength = fileLength;
    const RunVerdict clean = RunAndJudge(setup);
    EXPECT_TRUE(clean.problems.empty());
    EXPECT_EQ(clean.ending, RunEnding::ProgrammingComplete);
    return clean.writes;
}

TEST(FaultSweep, EveryFaultAtEveryExchangeOfACleanRun) {
    const std::size_t exchanges = CleanExchanges(SWEEP_FILE_LENGTH);
    // Identify, enter bootloader, start, readiness and one request per block.
    const std::uint32_t imageLength = static_cast<std::uint32_t>(SWEEP_FILE_LENGTH + 4);
    ASSERT_EQ(exchanges, FIRST_BLOCK_EXCHANGE + BlockCount(imageLength));

    SweepTally tally;
    for (const FaultKindEntry& fault : FAULT_KINDS) {
        for (std::uint32_t exchange = 0; exchange < exchanges; ++exchange) {
            SweepSetup setup;
            setup.fileLength = SWEEP_FILE_LENGTH;
            setup.faults.insert({exchange, LineFault{.kind = fault.kind}});
            const RunVerdict verdict = RunAndJudge(setup);
            tally.Add(verdict);
            Report(verdict, DescribeFaults(setup.faults));
        }
    }
    std::printf("%s\n", tally
                            .Summary("single faults, " + std::to_string(SWEEP_FILE_LENGTH / 1024) +
                                     " KiB image, " + std::to_string(exchanges) + " exchanges")
                            .c_str());
    EXPECT_EQ(tally.falseSuccesses, 0u);
    EXPECT_EQ(tally.runs, exchanges * FAULT_KIND_COUNT);
    // A fault after the tester has taken the last block cannot spoil the run, so some succeed;
    // an unplug before the first block cannot end in success.
    EXPECT_GT(tally.successes, 0u);
    EXPECT_LT(tally.successes, tally.runs);
}

struct RandomShape {
    const char* name;
    std::size_t fileLength;
    int faults;
};

// Two or three faults, often close together so that they strike retries of one request.
FaultScript RandomFaults(std::mt19937& random, std::size_t exchanges, int count) {
    FaultScript faults;
    std::uniform_int_distribution<std::uint32_t> anywhere(
        0, static_cast<std::uint32_t>(exchanges) + 6);
    std::uniform_int_distribution<std::uint32_t> near(1, 4);
    std::uniform_int_distribution<std::size_t> kind(0, FAULT_KIND_COUNT - 1);
    std::bernoulli_distribution clustered(0.5);
    std::uint32_t at = anywhere(random);
    for (int i = 0; i < count; ++i) {
        faults.insert({at, LineFault{.kind = FAULT_KINDS[kind(random)].kind}});
        at = clustered(random) ? at + near(random) : anywhere(random);
    }
    return faults;
}

TEST(FaultSweep, RandomPairsAndTriplesOfFaults) {
    const RandomShape shapes[] = {
        {"two faults, 4 KiB image", 4 * 1024, 2},
        {"three faults, 4 KiB image", 4 * 1024, 3},
        // One block: its acknowledgement looks like the readiness reply.
        {"two faults, one-block image", 100, 2},
        {"three faults, one-block image", 100, 3},
    };
    std::mt19937 random(20240611);
    SweepTally all;
    for (const RandomShape& shape : shapes) {
        const std::size_t exchanges = CleanExchanges(shape.fileLength);
        SweepTally tally;
        for (int run = 0; run < RANDOM_RUNS_PER_SHAPE; ++run) {
            SweepSetup setup;
            setup.fileLength = shape.fileLength;
            setup.faults = RandomFaults(random, exchanges, shape.faults);
            const RunVerdict verdict = RunAndJudge(setup);
            tally.Add(verdict);
            all.Add(verdict);
            Report(verdict, std::string(shape.name) + ", " + DescribeFaults(setup.faults));
        }
        std::printf("%s\n", tally.Summary(shape.name).c_str());
    }
    std::printf("%s\n", all.Summary("random faults").c_str());
    EXPECT_EQ(all.falseSuccesses, 0u);
}

// The readiness reply of a ready bootloader, FF 00 00, is byte for byte the acknowledgement of
// block 0. When a late start reply has put every reply one request behind, the first readiness
// reply is still on the line when block 0 goes out. Were it taken as block 0's acknowledgement,
// a one-block image that never reached the tester would be reported complete.
TEST(FaultSweep, OneBlockImageIsNotCompletedByAStaleReadinessReply) {
    SweepSetup setup;
    setup.fileLength = 100;
    setup.faults.insert({START_EXCHANGE, LineFault{.kind = FaultKind::LateReply}});
    // The start is sent twice, the readiness query twice; then block 0 is lost on the way.
    setup.faults.insert({FIRST_BLOCK_EXCHANGE + 2, LineFault{.kind = FaultKind::CorruptRequest}});
    const RunVerdict verdict = RunAndJudge(setup);
    EXPECT_FALSE(verdict.falseSuccess);
    Report(verdict, DescribeFaults(setup.faults));
}

struct RetryCase {
    const char* name;
    std::uint32_t firstExchange;
    int attempts;
    FaultKind kind;
    RunEnding expected;
};

// Fails `attempts` consecutive sends of one request, from its first send on.
TEST(FaultSweep, EachRetryLimitIsMetAndNotOverstepped) {
    constexpr std::size_t FILE_LENGTH = 1000;  // six blocks
    const std::uint32_t lastBlock = FIRST_BLOCK_EXCHANGE + BlockCount(FILE_LENGTH + 4) - 1;
    const RunEnding ok = RunEnding::ProgrammingComplete;
    const RunEnding failed = RunEnding::ProgrammingFailed;
    std::vector<RetryCase> cases;
    const FaultKind failingKinds[] = {FaultKind::DropReply, FaultKind::CutReply,
                                      FaultKind::EmptyReply, FaultKind::CorruptRequest};
    for (const FaultKind kind : failingKinds) {
        cases.push_back({"start", START_EXCHANGE, START_SENDS - 1, kind, ok});
        cases.push_back({"start", START_EXCHANGE, START_SENDS, kind, failed});
        cases.push_back({"readiness", READY_EXCHANGE, READY_QUERY_SENDS - 1, kind, ok});
        cases.push_back({"readiness", READY_EXCHANGE, READY_QUERY_SENDS, kind, failed});
        cases.push_back({"first block", FIRST_BLOCK_EXCHANGE, BLOCK_SENDS - 1, kind, ok});
        cases.push_back({"first block", FIRST_BLOCK_EXCHANGE, BLOCK_SENDS, kind, failed});
        cases.push_back({"middle block", FIRST_BLOCK_EXCHANGE + 2, BLOCK_SENDS - 1, kind, ok});
        cases.push_back({"middle block", FIRST_BLOCK_EXCHANGE + 2, BLOCK_SENDS, kind, failed});
        cases.push_back({"last block", lastBlock, BLOCK_SENDS - 1, kind, ok});
        cases.push_back({"last block", lastBlock, BLOCK_SENDS, kind, failed});
    }
    // An acknowledgement with the wrong number fails a block's send like a missing one.
    cases.push_back({"middle block", FIRST_BLOCK_EXCHANGE + 2, BLOCK_SENDS - 1,
                     FaultKind::PreviousBlockNumber, ok});
    cases.push_back({"middle block", FIRST_BLOCK_EXCHANGE + 2, BLOCK_SENDS,
                     FaultKind::PreviousBlockNumber, failed});
    for (const RetryCase& c : cases) {
        SweepSetup setup;
        setup.fileLength = FILE_LENGTH;
        for (int i = 0; i < c.attempts; ++i) {
            setup.faults.insert(
                {c.firstExchange + static_cast<std::uint32_t>(i), LineFault{.kind = c.kind}});
        }
        const RunVerdict verdict = RunAndJudge(setup);
        const std::string name = std::string(c.name) + ", " + std::string(FaultKindName(c.kind)) +
                                 " on " + std::to_string(c.attempts) + " sends";
        EXPECT_EQ(verdict.ending, c.expected) << name;
        Report(verdict, name);
    }
}

}  // namespace

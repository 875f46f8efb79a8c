// Whole update runs of the real core through the Linux device library, against the simulated
// tester served on pseudo-terminals by vivad-sim-pty in real time.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "link/d2xx.h"
#include "link/frame_codec.h"
#include "link/tester_discovery.h"
#include "link/tester_link.h"
#include "linux/sysfs_tty_ports.h"
#include "linux/tty_d2xx.h"
#include "tests/support/memory_firmware_folder.h"
#include "tests/support/pattern_bytes.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_world.h"
#include "update/firmware_image.h"
#include "update/update_run.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Only a guard against a server that never starts; it normally takes milliseconds.
constexpr int SERVER_START_LIMIT_MS = 20'000;

std::string FileText(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// vivad-sim-pty as a child, serving `scenario` under a fresh root for as long as it lives.
class PtyTesterProcess {
  public:
    explicit PtyTesterProcess(const std::string& scenario) {
        char pattern[] = "/tmp/vivad-pty-run-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) {
            // Not ready: no server is started, and nothing is removed afterwards.
            ADD_FAILURE() << "cannot make a temporary folder";
            return;
        }
        folder_ = made;
        std::ofstream(folder_ + "/scenario.txt") << scenario;
        int output[2];
        if (pipe(output) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        const std::string scenarioPath = folder_ + "/scenario.txt";
        const std::string root = folder_ + "/root";
        logPath_ = folder_ + "/sim.log";
        std::vector<std::string> args = {
            VIVAD_SIM_PTY_PATH, "--scenario", scenarioPath, "--root", root, "--log", logPath_};
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const int spawned =
            posix_spawn(&pid_, VIVAD_SIM_PTY_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(output[1]);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << VIVAD_SIM_PTY_PATH;
            pid_ = -1;
            close(output[0]);
            return;
        }
        ready_ = WaitForReady(output[0]);
        close(output[0]);
        setenv(SYSFS_ROOT_VARIABLE, (root + "/sys").c_str(), 1);
        setenv(DEV_ROOT_VARIABLE, (root + "/dev").c_str(), 1);
    }

    ~PtyTesterProcess() {
        Stop();
        unsetenv(SYSFS_ROOT_VARIABLE);
        unsetenv(DEV_ROOT_VARIABLE);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    PtyTesterProcess(const PtyTesterProcess&) = delete;
    PtyTesterProcess& operator=(const PtyTesterProcess&) = delete;

    bool Ready() const { return ready_; }

    // Ends the server as a test does, so that it writes its last lines; returns its log.
    std::string Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            exitedCleanly_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            pid_ = -1;
        }
        return FileText(logPath_);
    }

    bool ExitedCleanly() const { return exitedCleanly_; }

  private:
    static bool WaitForReady(int fd) {
        std::string seen;
        const auto start = std::chrono::steady_clock::now();
        while (seen.find("ready\n") == std::string::npos) {
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count();
            pollfd watched{fd, POLLIN, 0};
            if (waited > SERVER_START_LIMIT_MS ||
                poll(&watched, 1, static_cast<int>(SERVER_START_LIMIT_MS - waited)) <= 0) {
                return false;
            }
            char chunk[64];
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got <= 0) {
                return false;  // the server ended before it was ready
            }
            seen.append(chunk, static_cast<std::size_t>(got));
        }
        return true;
    }

    std::string folder_;
    std::string logPath_;
    pid_t pid_ = -1;
    bool ready_ = false;
    bool exitedCleanly_ = false;
};

class PtyTesterRun : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetTestHost();
        ResetTestFolder();
        TesterLink = nullptr;
        FreeFirmwareImage();
    }

    void TearDown() override {
        CloseTesterLink();
        FreeFirmwareImage();
    }
};

TEST_F(PtyTesterRun, ARevision2TesterIsProgrammedWithAGoodImage) {
    PtyTesterProcess server("device = FT0000AA\ndevice = ZVKD0001\nhardware-code = 20\n");
    ASSERT_TRUE(server.Ready());
    constexpr std::size_t IMAGE_BYTES = 2000;
    PutFirmwareFile(u"VIVAD-h2.0.bin", PatternBytes(IMAGE_BYTES));

    EXPECT_EQ(UpdateRun(), RunEnding::ProgrammingComplete);
    EXPECT_TRUE(HostTexts(HostEvent::Kind::Error).empty());
    CloseTesterLink();

    const std::string log = server.Stop();
    EXPECT_TRUE(server.ExitedCleanly());
    // The even length plus the CRC-32 trailer.
    const std::string good = "verdict: received 2004 of 2004 bytes, CRC-32 good: image programmed";
    EXPECT_NE(log.find("image " + good), std::string::npos) << log;
    EXPECT_NE(log.find("exit " + good), std::string::npos) << log;
    // Only the tester was written to, and the silent device never answered.
    EXPECT_EQ(log.find("ttyUSB0 request"), std::string::npos) << log;
}

TEST_F(PtyTesterRun, ALostAcknowledgementIsResentOverThePty) {
    // Block 0's acknowledgement never comes, so the block goes again.
    PtyTesterProcess server("device = ZVKD0001\nhardware-code = 10\nfault = " +
                            std::to_string(FIRST_BLOCK_EXCHANGE) + " DropReply\n");
    ASSERT_TRUE(server.Ready());
    PutFirmwareFile(u"VIVAD-h1.0.bin", PatternBytes(400));
    EXPECT_EQ(UpdateRun(), RunEnding::ProgrammingComplete);
    CloseTesterLink();
    const std::string log = server.Stop();
    const auto frameOf = [&log](int request) {
        const std::string tag = "ttyUSB0 request " + std::to_string(request) + ": ";
        const auto at = log.find(tag);
        return at == std::string::npos
                   ? std::string()
                   : log.substr(at + tag.size(), log.find('\n', at) - at - tag.size());
    };
    EXPECT_FALSE(frameOf(FIRST_BLOCK_EXCHANGE).empty()) << log;
    EXPECT_EQ(frameOf(FIRST_BLOCK_EXCHANGE + 1), frameOf(FIRST_BLOCK_EXCHANGE)) << log;
    EXPECT_NE(log.find("image verdict: received 404 of 404 bytes, CRC-32 good"), std::string::npos)
        << log;
}

// The tester keeps its state between the updater's runs: one that stops after switching it
// into its bootloader leaves it there, and the next run finds it so and finishes the update.
TEST_F(PtyTesterRun, TheTesterStaysInItsBootloaderFromOneRunToTheNext) {
    PtyTesterProcess server("device = ZVKD0001\n");
    ASSERT_TRUE(server.Ready());
    ASSERT_EQ(FindAndOpenTester(), TesterSearchResult::TesterOpened);
    FrameBuffer frame;
    ASSERT_FALSE(IdentifyTester(frame).endsRun);
    EnterBootloader(frame);
    CloseTesterLink();

    TestHost().promptAnswers = {PromptAnswer::No};  // revision 2, off the label
    PutFirmwareFile(u"VIVAD-h2.0.bin", PatternBytes(600));
    EXPECT_EQ(UpdateRun(), RunEnding::ProgrammingComplete);
    // The bootloader cannot tell its revision, so the user was asked.
    EXPECT_EQ(HostTexts(HostEvent::Kind::Prompt).size(), 1u);
    const std::string log = server.Stop();
    EXPECT_NE(log.find("exit verdict: received 604 of 604 bytes, CRC-32 good"), std::string::npos)
        << log;
}

struct LinkRateCase {
    const char* label;
    // None: the front end never sets one, and the tty keeps the chip's own.
    std::optional<std::uint32_t> baudRate;
    // Why the simulated tester hears nothing.
    const char* logged;
};

// Named by the label in test output, not dumped as bytes.
void PrintTo(const LinkRateCase& c, std::ostream* os) {
    *os << c.label;
}

class PtyTesterLinkRates : public PtyTesterRun,
                           public ::testing::WithParamInterface<LinkRateCase> {};

// Only a tty set up as the tester's link carries intelligible bytes, so a front end that
// leaves it at another rate, or at the one it was found at, gets no answer.
TEST_P(PtyTesterLinkRates, HearNothing) {
    PtyTesterProcess server("device = ZVKD0001\n");
    ASSERT_TRUE(server.Ready());
    ASSERT_EQ(FT_OpenEx(const_cast<char*>("ZVKD0001"), FT_OPEN_BY_SERIAL_NUMBER, &TesterLink),
              FT_OK);
    if (GetParam().baudRate) {
        ASSERT_EQ(FT_SetBaudRate(TesterLink, *GetParam().baudRate), FT_OK);
    }
    FrameBuffer frame;
    const Identification identification = IdentifyTester(frame);
    EXPECT_TRUE(identification.endsRun);
    EXPECT_EQ(identification.ending, RunEnding::NoReply);
    const std::string log = server.Stop();
    EXPECT_NE(log.find("ttyUSB0 is not set up as the tester's link (" +
                       std::string(GetParam().logged) + ")"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("exit verdict: nothing programmed"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Rates, PtyTesterLinkRates,
                         ::testing::Values(LinkRateCase{"NeverSet", std::nullopt, "9600 baud"},
                                           LinkRateCase{"SetToAnotherRate", 19200, "19200 baud"}),
                         ::testing::PrintToStringParamName());

struct EndingCase {
    const char* label;
    const char* scenario;
    RunEnding ending;
    // Why the open failed, for the run that ends so.
    TtyOpenFailure openFailure;
};

// Named by the label in test output, not dumped as bytes.
void PrintTo(const EndingCase& c, std::ostream* os) {
    *os << c.label;
}

class PtyTesterEndings : public PtyTesterRun, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(PtyTesterEndings, EndTheRunAsTheDevicesSay) {
    PtyTesterProcess server(GetParam().scenario);
    ASSERT_TRUE(server.Ready());
    EXPECT_EQ(UpdateRun(), GetParam().ending);
    if (GetParam().ending == RunEnding::OpenFailed) {
        EXPECT_EQ(LastTtyOpenFailure(), GetParam().openFailure);
    }
    const std::string log = server.Stop();
    EXPECT_TRUE(server.ExitedCleanly());
    EXPECT_NE(log.find("requests: 0"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Discovery, PtyTesterEndings,
    ::testing::Values(
        EndingCase{"NoDevice", "devices = none\n", RunEnding::NoTester, TtyOpenFailure::None},
        EndingCase{"NoTesterAmongFtdiDevices", "device = FT0000AA\ndevice = zvkd0001\n",
                   RunEnding::NoTester, TtyOpenFailure::None},
        EndingCase{"TwoTesters", "device = ZVKD0001\ndevice = ZVKD0002\n",
                   RunEnding::SeveralTesters, TtyOpenFailure::None},
        EndingCase{"TesterWithoutSerialFileIsNoTester", "device = ZVKD0001 serial-query-fails\n",
                   RunEnding::NoTester, TtyOpenFailure::None},
        EndingCase{"TesterHeldByAnotherProgram", "device = ZVKD0001 open-fails\n",
                   RunEnding::OpenFailed, TtyOpenFailure::InUse}),
    ::testing::PrintToStringParamName());

}  // namespace

// vivad-sim-pty: the simulated tester for the Linux updater, on pseudo-terminals behind a fake
// sysfs, in real time. Prints "ready" once the devices are in place and serves until SIGTERM,
// SIGINT or SIGHUP. The updater finds it with VIVAD_SYSFS_ROOT=ROOT/sys and
// VIVAD_DEV_ROOT=ROOT/dev.
#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "sim/pty/event_log.h"
#include "sim/pty/pty_tester_server.h"
#include "sim/scenario_file.h"

namespace {

constexpr char USAGE[] =
    "usage: vivad-sim-pty --scenario FILE --root DIR [--log FILE]\n"
    "  Serves the scenario's devices as ptys behind DIR/sys and DIR/dev; prints \"ready\"\n"
    "  when they are in place and serves until SIGTERM, SIGINT or SIGHUP.\n";

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

struct Options {
    std::string scenario;
    std::string root;
    std::string log;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        std::string* value = name == "--scenario" ? &options.scenario
                             : name == "--root"   ? &options.root
                             : name == "--log"    ? &options.log
                                                  : nullptr;
        if (value == nullptr || i + 1 == argc) {
            return std::nullopt;
        }
        *value = argv[++i];
    }
    if (options.scenario.empty() || options.root.empty()) {
        return std::nullopt;
    }
    return options;
}

// The stopping signals are held back except while the server waits, so that one arriving
// between two waits still ends the next wait at once.
sigset_t HoldStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigset_t stopping;
    sigemptyset(&stopping);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(signal, &action, nullptr);
        sigaddset(&stopping, signal);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopping, &waitMask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigdelset(&waitMask, signal);
    }
    return waitMask;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    if (!options->log.empty() && !OpenEventLog(options->log)) {
        std::fprintf(stderr, "vivad-sim-pty: cannot open the log %s\n", options->log.c_str());
        return 1;
    }
    std::string error;
    const std::optional<SimScenario> scenario = ReadScenarioFile(options->scenario, error);
    if (!scenario) {
        LogLine("scenario error: " + error);
        std::fprintf(stderr, "vivad-sim-pty: %s\n", error.c_str());
        return 1;
    }
    LogLine("scenario: " + options->scenario);
    const sigset_t waitMask = HoldStopSignals();
    // Reply bytes are due to the microsecond; the default timer slack would blur that.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    PtyTesterServer server;
    if (!StartPtyTesterServer(server, *scenario, options->root, error)) {
        LogLine("start error: " + error);
        std::fprintf(stderr, "vivad-sim-pty: %s\n", error.c_str());
        StopPtyTesterServer(server);
        return 1;
    }
    LogLine("ready");
    std::puts("ready");
    std::fflush(stdout);
    ServePtyTester(server, stopRequested, waitMask);
    StopPtyTesterServer(server);
    CloseEventLog();
    return 0;
}

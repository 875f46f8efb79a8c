// The simulated tester served in real time on pseudo-terminals behind a fake sysfs: one pty per
// scenario device; the testers among them bridged to the one tester model and its serial line,
// the others silent. The tester keeps its state from one updater run to the next.
#pragma once

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/pty/fake_tree.h"
#include "sim/pty/pty_endpoint.h"
#include "sim/pty/request_framer.h"
#include "sim/serial_line.h"
#include "sim/sim_world.h"
#include "sim/tester_model.h"

struct PtyPort {
    SimDevice device;
    std::string name;
    // Closed for good when the device is unplugged.
    PtyEndpoint endpoint;
    RequestFramer framer;
};

struct PtyTesterServer {
    TesterModel tester;
    SerialLine line;
    FakeTree tree;
    std::vector<PtyPort> ports;
    // The tester port whose requests the line answers now, and the reply bytes due on it that
    // its master has not yet taken.
    std::optional<std::size_t> replyPort;
    std::vector<std::uint8_t> replyPending;
    bool imageWasComplete = false;
};

// Lays out the tree under `root` and opens the ptys. False with `error` when that fails; what
// was made is removed again by StopPtyTesterServer.
bool StartPtyTesterServer(PtyTesterServer& server, const SimScenario& scenario,
                          const std::string& root, std::string& error);

// Serves until `stopRequested` is set by a signal handler; `waitMask` is the signal mask while
// waiting, which lets the stopping signals through.
void ServePtyTester(PtyTesterServer& server, const volatile std::sig_atomic_t& stopRequested,
                    const sigset_t& waitMask);

// Logs the request count and the final verdict, closes the ptys and removes the tree.
void StopPtyTesterServer(PtyTesterServer& server);

#include "sim/pty/pty_tester_server.h"

#include <poll.h>

#include <algorithm>

#include "linux/monotonic_time.h"
#include "sim/pty/event_log.h"
#include "sim/sim_clock.h"

namespace {

// Reply bytes handed to the master at one go; the line's own timing decides when they are due.
constexpr std::uint32_t REPLY_CHUNK = 4096;

void LogVerdictIfCompleted(PtyTesterServer& server) {
    const std::string completed = ImageCompletedLine(server.tester, server.imageWasComplete);
    if (!completed.empty()) {
        LogLine(completed);
    }
}

// While the server serves, a port's pty is closed only by unplugging it, and for good.
bool Unplugged(const PtyPort& port) {
    return port.endpoint.master < 0;
}

// The tester is gone: its pty hangs up, and its entries leave sysfs and /dev as a device
// unplugged does.
void Unplug(PtyTesterServer& server, std::size_t index) {
    PtyPort& port = server.ports[index];
    LogAt(SimNow(), port.name + " unplugged");
    // Gone from the tree before the hang-up, so that an updater woken by it finds it gone.
    RemoveCreated(server.tree, ClassEntryOf(server.tree, port.name));
    RemoveCreated(server.tree, DevLinkOf(server.tree, port.name));
    ClosePtyEndpoint(port.endpoint);
    if (server.replyPort == index) {
        server.replyPending.clear();
    }
}

void HandleFrame(PtyTesterServer& server, std::size_t index, const RequestFrame& frame) {
    PtyPort& port = server.ports[index];
    std::string why;
    const bool linked =
        port.device.isTester && IsTesterLink(port.endpoint, server.line.timing.baudRate, why);
    LogAt(frame.startedAt, port.name + " request " + std::to_string(server.line.requestCount) +
                               ": " + HexOf(frame.bytes.data(), frame.bytes.size()));
    if (port.device.isTester && !linked) {
        LogAt(SimNow(), port.name + " is not set up as the tester's link (" + why +
                            "): the tester hears nothing");
    }
    WriteLine(server.line, linked ? &server.tester : nullptr, frame.bytes.data(),
              static_cast<std::uint32_t>(frame.bytes.size()), frame.startedAt);
    if (linked) {
        server.replyPort = index;
    }
    // Frames come only from ports still plugged in, this one among them.
    if (server.line.unplugged && port.device.isTester) {
        Unplug(server, index);
    }
    LogVerdictIfCompleted(server);
}

void HandleInput(PtyTesterServer& server, std::size_t index) {
    PtyPort& port = server.ports[index];
    const MasterInput input = ReadMaster(port.endpoint);
    const std::int64_t now = SimNow();
    if (input.inputFlushed || input.outputFlushed) {
        ResetFramer(port.framer);
    }
    // The updater opens the port: what waited for it is gone, in the chip as well.
    if (input.inputFlushed && port.device.isTester) {
        LogAt(now, port.name + " input flushed");
        PurgeLine(server.line);
        if (server.replyPort == index) {
            server.replyPending.clear();
        }
    }
    for (const RequestFrame& frame :
         FeedFramer(port.framer, input.bytes.data(), input.bytes.size(), now)) {
        HandleFrame(server, index, frame);
        if (Unplugged(port)) {
            return;
        }
    }
    if (input.failed) {
        // Cannot happen while the server holds the slave; a port that fails is taken away
        // rather than polled in vain.
        LogAt(now, port.name + " master failed");
        Unplug(server, index);
    }
}

// Hands the master of the answering port every reply byte the line has made visible by now.
void DeliverReplies(PtyTesterServer& server) {
    if (!server.replyPort || Unplugged(server.ports[*server.replyPort])) {
        return;
    }
    if (server.replyPending.empty()) {
        std::uint8_t bytes[REPLY_CHUNK];
        const std::uint32_t count = TakeVisibleBytes(server.line, SimNow(), bytes, REPLY_CHUNK);
        server.replyPending.assign(bytes, bytes + count);
    }
    if (server.replyPending.empty()) {
        return;
    }
    const PtyPort& port = server.ports[*server.replyPort];
    const long put =
        WriteMaster(port.endpoint, server.replyPending.data(), server.replyPending.size());
    if (put > 0) {
        server.replyPending.erase(server.replyPending.begin(), server.replyPending.begin() + put);
    }
}

}  // namespace

bool StartPtyTesterServer(PtyTesterServer& server, const SimScenario& scenario,
                          const std::string& root, std::string& error) {
    ResetTesterAndLine(scenario, server.tester, server.line);
    if (!StartFakeTree(server.tree, root, !scenario.countQueryFails, error)) {
        return false;
    }
    if (scenario.countQueryFails) {
        LogLine("no ttys in sysfs: nothing can be listed");
        return true;
    }
    // Ttys of other kinds, for discovery to pass over.
    if (!AddPlatformTty(server.tree, "ttyS0", "serial8250", error) ||
        !AddVirtualTty(server.tree, "tty0", error)) {
        return false;
    }
    for (std::size_t i = 0; i < scenario.devices.size(); ++i) {
        PtyPort& port = server.ports.emplace_back();
        port.device = scenario.devices[i];
        port.name = "ttyUSB" + std::to_string(i);
        if (!OpenPtyEndpoint(port.endpoint, port.device.openFails, error)) {
            error = port.name + ": " + error;
            return false;
        }
        const std::optional<std::string> serial =
            port.device.serialQueryFails ? std::nullopt : std::optional(port.device.serial);
        if (!AddUsbSerialTty(server.tree, port.name, "1-" + std::to_string(i + 1), serial,
                             "ftdi_sio", error) ||
            !LinkDevNode(server.tree, port.name, port.endpoint.slavePath, error)) {
            return false;
        }
        LogLine("device " + port.name + " " + port.device.serial + " -> " +
                port.endpoint.slavePath + (port.device.isTester ? " tester" : " silent") +
                (port.device.openFails ? ", held by another program" : "") +
                (port.device.serialQueryFails ? ", no serial number" : ""));
    }
    return true;
}

void ServePtyTester(PtyTesterServer& server, const volatile std::sig_atomic_t& stopRequested,
                    const sigset_t& waitMask) {
    std::vector<pollfd> watched;
    std::vector<std::size_t> watchedPorts;
    while (stopRequested == 0) {
        DeliverReplies(server);
        watched.clear();
        watchedPorts.clear();
        for (std::size_t i = 0; i < server.ports.size(); ++i) {
            if (Unplugged(server.ports[i])) {
                continue;
            }
            const bool waitingToWrite = server.replyPort == i && !server.replyPending.empty();
            watched.push_back({server.ports[i].endpoint.master,
                               static_cast<short>(POLLIN | (waitingToWrite ? POLLOUT : 0)), 0});
            watchedPorts.push_back(i);
        }
        // Wake when the next reply byte becomes visible, unless the master is still full.
        std::optional<std::int64_t> wake;
        if (server.replyPort && server.replyPending.empty()) {
            wake = NextVisibleTime(server.line);
        }
        timespec timeout{};
        if (wake) {
            timeout = TimespecOfNs(std::max<std::int64_t>(0, *wake - SimNow()));
        }
        const int ready =
            ppoll(watched.data(), watched.size(), wake ? &timeout : nullptr, &waitMask);
        if (ready <= 0) {
            continue;  // the timer, or a signal that may ask to stop
        }
        for (std::size_t k = 0; k < watched.size(); ++k) {
            if ((watched[k].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                HandleInput(server, watchedPorts[k]);
            }
        }
    }
}

void StopPtyTesterServer(PtyTesterServer& server) {
    LogLine("requests: " + std::to_string(server.line.requestCount));
    LogLine("exit " + DescribeVerdict(server.tester));
    for (PtyPort& port : server.ports) {
        ClosePtyEndpoint(port.endpoint);
    }
    RemoveFakeTree(server.tree);
}

#include "sim/sim_world.h"

#include <cstdio>

#include "sim/sim_clock.h"
#include "sim/sim_world_state.h"

SimWorld world;
std::mutex worldMutex;

FT_STATUS Logged(SimCall call, FT_STATUS status) {
    call.status = status;
    call.atNs = SimNow();
    if (world.observer != nullptr) {
        world.observer(call);
    }
    if (world.scenario.keepCallLog) {
        world.log.push_back(std::move(call));
    }
    return status;
}

SimHandle* OpenHandle(FT_HANDLE handle) {
    for (SimHandle& h : world.handles) {
        if (&h == handle) {
            return h.open ? &h : nullptr;
        }
    }
    return nullptr;
}

bool DeviceIsOpen(std::size_t device) {
    for (const SimHandle& h : world.handles) {
        if (h.open && h.device == device) {
            return true;
        }
    }
    return false;
}

// Only a link set up as the tester's (115200 baud, 8N1) carries intelligible bytes.
TesterModel* TesterBehind(const SimHandle& h) {
    // A device unplugged since it was opened carries nothing.
    const bool tester =
        h.device < world.scenario.devices.size() && world.scenario.devices[h.device].isTester;
    const bool configured = h.baudRate == world.line.timing.baudRate && h.wordLength == 8 &&
                            h.stopBits == 0 && h.parity == 0;
    return tester && configured ? &world.tester : nullptr;
}

void ObserveSimCalls(SimCallObserver observer) {
    std::lock_guard<std::mutex> lock(worldMutex);
    world.observer = observer;
}

void StartScenario(const SimScenario& scenario) {
    std::lock_guard<std::mutex> lock(worldMutex);
    world.scenario = scenario;
    ResetTesterAndLine(scenario, world.tester, world.line);
    world.handles.clear();
    world.log.clear();
}

void ResetTesterAndLine(const SimScenario& scenario, TesterModel& tester, SerialLine& line) {
    ResetTester(tester, scenario.tester);
    line = SerialLine{};
    line.timing = scenario.timing;
    line.faults = scenario.faults;
}

void ReplaceSimDevices(const std::vector<SimDevice>& devices) {
    std::lock_guard<std::mutex> lock(worldMutex);
    world.scenario.devices = devices;
}

const TesterModel& SimTester() {
    return world.tester;
}
SerialLine& SimLine() {
    return world.line;
}
const std::vector<SimCall>& SimCallLog() {
    return world.log;
}

std::vector<std::vector<std::uint8_t>> SimWrittenFrames() {
    std::vector<std::vector<std::uint8_t>> frames;
    for (const SimCall& call : world.log) {
        if (call.function == "FT_Write") {
            frames.push_back(call.bytes);
        }
    }
    return frames;
}

int SimOpenHandleCount() {
    int count = 0;
    for (const SimHandle& h : world.handles) {
        count += h.open ? 1 : 0;
    }
    return count;
}

std::string DescribeVerdict(const TesterModel& tester) {
    const ProgrammedImage& image = tester.image;
    if (!image.announced) {
        return "verdict: nothing programmed";
    }
    std::string text = "verdict: received " + std::to_string(image.received.size()) + " of " +
                       std::to_string(image.announcedLength) + " bytes";
    if (!image.complete) {
        return text + ", image incomplete";
    }
    return text + (image.crcGood ? ", CRC-32 good: image programmed" : ", CRC-32 BAD");
}

std::string ImageCompletedLine(const TesterModel& tester, bool& wasComplete) {
    const bool complete = tester.image.complete;
    const bool justCompleted = complete && !wasComplete;
    wasComplete = complete;
    return justCompleted ? "image " + DescribeVerdict(tester) : std::string();
}

std::string HexOf(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(count * 3);
    char hex[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += hex;
    }
    return text;
}

std::string LogTimeOf(std::int64_t ns) {
    char time[32];
    std::snprintf(time, sizeof time, "%10.3f", static_cast<double>(ns) / NS_PER_MS);
    return time;
}

// The simulated tester as FTD2XX.dll: sets up the simulated world from the scenario file named
// in VIVAD_SIM_SCENARIO when the updater loads the library, and writes every device-library call
// and the tester's verdicts to the file named in VIVAD_SIM_LOG. The FT_* functions themselves are
// the simulator's own (sim/sim_d2xx.cpp), exported through FTD2XX.def.
#include <windows.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "sim/scenario_file.h"
#include "sim/sim_world.h"

namespace {

// Written with WriteFile rather than the C library's streams: the last lines are written while
// the process ends, when another thread may have been stopped inside a stream's lock.
HANDLE logFile = INVALID_HANDLE_VALUE;
// Handles are numbered in the order they are opened, which reads better than addresses.
std::map<FT_HANDLE, int> handleNumbers;
bool imageWasComplete = false;

std::string Environment(const char* name) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

void WriteLogLine(const std::string& line) {
    if (logFile == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(logFile, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

const char* StatusName(FT_STATUS status) {
    switch (status) {
        case FT_OK:
            return "FT_OK";
        case FT_INVALID_HANDLE:
            return "FT_INVALID_HANDLE";
        case FT_DEVICE_NOT_FOUND:
            return "FT_DEVICE_NOT_FOUND";
        case FT_DEVICE_NOT_OPENED:
            return "FT_DEVICE_NOT_OPENED";
        case FT_IO_ERROR:
            return "FT_IO_ERROR";
        case FT_INVALID_PARAMETER:
            return "FT_INVALID_PARAMETER";
        default:
            return "FT_OTHER_ERROR";
    }
}

std::string HandleName(FT_HANDLE handle) {
    if (handle == nullptr) {
        return "-";
    }
    const auto found = handleNumbers.find(handle);
    if (found == handleNumbers.end()) {
        return "h?";
    }
    char name[16];
    std::snprintf(name, sizeof name, "h%d", found->second);
    return name;
}

// One line per call: time in ms, function, handle, telling argument, bytes, status.
std::string DescribeCall(const SimCall& call) {
    std::string line = LogTimeOf(call.atNs) + " " + call.function + " " + HandleName(call.handle);
    char argument[48];
    const auto value = static_cast<unsigned long long>(call.argument);
    if (call.function == "FT_SetDataCharacteristics") {
        std::snprintf(argument, sizeof argument, " bits=%llu stop=%llu parity=%llu", value >> 16,
                      (value >> 8) & 0xFF, value & 0xFF);
    } else if (call.function == "FT_ListDevices" && value > 0xFFFF) {
        std::snprintf(argument, sizeof argument, " arg=0x%llX", value);
    } else {
        std::snprintf(argument, sizeof argument, " arg=%llu", value);
    }
    line += argument;
    if (call.function == "FT_ListDevices" || call.function == "FT_OpenEx") {
        if (!call.bytes.empty()) {
            line += " serial=" + std::string(call.bytes.begin(), call.bytes.end());
        }
    } else if (!call.bytes.empty()) {
        line += " bytes=" + HexOf(call.bytes.data(), call.bytes.size());
    }
    return line + " -> " + StatusName(call.status);
}

// Runs inside every device-library call, with the simulated world held.
void OnCall(const SimCall& call) {
    if (call.function == "FT_OpenEx" && call.status == FT_OK) {
        const int number = static_cast<int>(handleNumbers.size()) + 1;
        handleNumbers[call.handle] = number;
    }
    WriteLogLine(DescribeCall(call));
    const std::string completed = ImageCompletedLine(SimTester(), imageWasComplete);
    if (!completed.empty()) {
        WriteLogLine(completed);
    }
}

void Start() {
    const std::string logPath = Environment("VIVAD_SIM_LOG");
    if (!logPath.empty()) {
        logFile = CreateFileA(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    const std::string scenarioPath = Environment("VIVAD_SIM_SCENARIO");
    SimScenario scenario;
    if (scenarioPath.empty()) {
        WriteLogLine("scenario: default, one tester ZVKD0001");
    } else {
        std::string error;
        const std::optional<SimScenario> read = ReadScenarioFile(scenarioPath, error);
        if (read) {
            scenario = *read;
            WriteLogLine("scenario: " + scenarioPath);
        } else {
            // A broken scenario attaches nothing rather than a tester nobody asked for; the log
            // says why, for the test that reads it.
            scenario.devices.clear();
            WriteLogLine("scenario error: " + error);
        }
    }
    // The log file holds the calls; the in-memory record would only grow.
    scenario.keepCallLog = false;
    StartScenario(scenario);
    ObserveSimCalls(OnCall);
}

// The process is ending: the other threads are gone, perhaps mid-call, so the world is read
// without its lock and only the verdict is written.
void Finish() {
    WriteLogLine("exit " + DescribeVerdict(SimTester()));
    if (logFile != INVALID_HANDLE_VALUE) {
        CloseHandle(logFile);
        logFile = INVALID_HANDLE_VALUE;
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        Start();
    } else if (reason == DLL_PROCESS_DETACH) {
        Finish();
    }
    return TRUE;
}

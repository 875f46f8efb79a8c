// The command line on Windows: devices are the FTDI library's, numbered as it lists them;
// Ctrl-C comes from the console; firmware lies beside the program unless named.
#include <windows.h>

#include <atomic>

#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/flash_texts.h"
#include "cli/platform.h"
#include "cli/text_encoding.h"
#include "update/run_stop.h"

namespace {

// The handler's own count, not RunStopRequested(): the revision prompt may ask the run to stop
// for the same press before this thread runs.
std::atomic<bool> pressedBefore{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    if (pressedBefore.exchange(true)) {
        // The second Ctrl-C: the user wants out now. Ended here rather than by the system's
        // handler, whose exit code differs by system (0 under Wine), so that a script still sees
        // an interruption; the main thread may be inside the device library, so no clean-up runs.
        TerminateProcess(GetCurrentProcess(), AsInt(ExitCode::Interrupted));
        return TRUE;
    }
    RequestRunStop();
    Write(Stream::Err, STOPPING);
    // A revision prompt waiting for its line gives up, where the console itself does not end
    // the read (Wine's); with no read waiting this does nothing.
    CancelIoEx(GetStdHandle(STD_INPUT_HANDLE), nullptr);
    return TRUE;
}

}  // namespace

std::string DeviceLocation(const AttachedTester& tester) {
    std::string location = std::to_string(tester.index);
    location.insert(location.begin(), '#');
    return location;
}

std::string OpenFailureReason() {
    // The library says no more than that it could not open the device.
    return "the FTDI driver refused to open it; it is in use by another program, or its driver "
           "is not installed (see Device Manager).";
}

void CatchInterrupt() {
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::optional<std::u16string> FirmwareFolder(const std::optional<std::string>& directory) {
    if (!directory || directory->empty()) {
        return std::nullopt;
    }
    std::u16string folder = Utf16FromUtf8(*directory);
    if (folder.back() != u'\\' && folder.back() != u'/') {
        folder += u'\\';
    }
    return folder;
}

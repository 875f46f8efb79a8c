// The command line on Linux: devices are ttys of the kernel's FTDI driver, Ctrl-C is SIGINT,
// and firmware is looked for in the current directory unless named.
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "cli/flash_texts.h"
#include "cli/platform.h"
#include "cli/text_encoding.h"
#include "linux/tty_d2xx.h"
#include "update/run_stop.h"

namespace {

void OnInterrupt(int) {
    if (RunStopRequested()) {
        // The second Ctrl-C: the user wants out now.
        ::signal(SIGINT, SIG_DFL);
        ::raise(SIGINT);
        return;
    }
    RequestRunStop();
    // write(2) is safe in a signal handler; the C library's streams are not.
    const ssize_t ignored = ::write(STDERR_FILENO, STOPPING, sizeof STOPPING - 1);
    (void)ignored;
}

}  // namespace

std::string DeviceLocation(const AttachedTester& tester) {
    return TtyNodeOfDevice(tester.index);
}

std::string OpenFailureReason() {
    const std::string node = LastTtyOpenNode();
    switch (LastTtyOpenFailure()) {
        case TtyOpenFailure::InUse:
            return node +
                   " is in use by another program (a terminal program, another updater, "
                   "or ModemManager); close it and try again.";
        case TtyOpenFailure::NoPermission:
            return "no permission to open " + node +
                   ". Install the udev rule 70-vivad-tester.rules (see the README), or add "
                   "yourself to the dialout group (sudo usermod -aG dialout $USER) and log in "
                   "again.";
        case TtyOpenFailure::NotFound:
            return "its device node is gone; was it unplugged?";
        case TtyOpenFailure::None:
        case TtyOpenFailure::Other:
            break;
    }
    return node + ": " + std::strerror(LastTtyOpenErrno());
}

void CatchInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a prompt waiting for a line gives up; the link's own waits carry on.
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
}

std::optional<std::u16string> FirmwareFolder(const std::optional<std::string>& directory) {
    if (!directory || directory->empty()) {
        return u"./";
    }
    std::u16string folder = Utf16FromUtf8(*directory);
    if (folder.back() != u'/') {
        folder += u'/';
    }
    return folder;
}

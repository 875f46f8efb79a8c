#include "linux/tty_port_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "linux/monotonic_time.h"

namespace {

struct BaudRateSpeed {
    std::uint32_t baudRate;
    speed_t speed;
};

constexpr BaudRateSpeed BAUD_RATES[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000},
};

// Waits for `events` until `deadline`. False when the deadline has passed; a signal only makes
// it look again. `revents` receives what poll reported.
bool WaitForTty(int fd, short events, std::int64_t deadline, short& revents, bool& failed) {
    for (;;) {
        const std::int64_t remaining = deadline - MonotonicNs();
        if (remaining <= 0) {
            return false;
        }
        pollfd watched{fd, events, 0};
        const timespec wait = TimespecOfNs(remaining);
        const int ready = ppoll(&watched, 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            failed = true;
            return false;
        }
        revents = watched.revents;
        return true;
    }
}

bool NothingNow(ssize_t result) {
    return result == 0 || (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

// Reads the settings, lets `change` alter them and applies them at once. False, with errno
// telling why, when the tty refuses.
template <typename Change>
bool ChangeTermios(int fd, Change change) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    change(settings);
    int result = 0;
    do {
        result = tcsetattr(fd, TCSANOW, &settings);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// Moves `count` bytes, `step(done)` reading or writing those from byte `done` on as read(2) or
// write(2) does, until all have gone or `timeoutMs` has passed; while the tty takes or gives
// nothing, waits for `events` on it.
template <typename Step>
TtyTransfer TransferTty(int fd, short events, std::uint32_t count, std::uint32_t timeoutMs,
                        Step step) {
    const std::int64_t deadline =
        MonotonicNs() + static_cast<std::int64_t>(timeoutMs) * MONOTONIC_NS_PER_MS;
    TtyTransfer result;
    bool hungUp = false;
    while (result.count < count) {
        const ssize_t moved = step(result.count);
        if (moved > 0) {
            result.count += static_cast<std::uint32_t>(moved);
            continue;
        }
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (!NothingNow(moved) || hungUp) {
            // EIO from a tty whose other end is gone, or nothing more after a hang-up.
            result.failed = true;
            break;
        }
        short revents = 0;
        if (!WaitForTty(fd, events, deadline, revents, result.failed)) {
            break;
        }
        // A hung-up tty still gives what it holds, or takes what it still can; the transfer ends
        // at the first step after the hang-up that moves nothing.
        hungUp = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return result;
}

}  // namespace

int OpenExclusiveTty(const std::string& node, int& error) {
    int fd = -1;
    do {
        fd = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (isatty(fd) == 0) {
        error = ENOTTY;
        close(fd);
        return -1;
    }
    // The lock first: a tty another program holds keeps its exclusive mode untouched by us.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    return fd;
}

void CloseTty(int fd) {
    // The exclusive mode belongs to the tty, not to this descriptor: while anyone else keeps the
    // tty open it would outlive the close and refuse the next updater.
    ioctl(fd, TIOCNXCL);
    close(fd);
}

bool ConfigureRawLink(int fd, int& error) {
    const bool set = ChangeTermios(fd, [](termios& settings) {
        cfmakeraw(&settings);
        settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        settings.c_iflag &= ~(IXON | IXOFF | IXANY);
        // Reads return at once with what is there; the timeouts are kept with poll.
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
    });
    if (!set || tcflush(fd, TCIOFLUSH) != 0) {
        error = errno;
        return false;
    }
    return true;
}

std::optional<speed_t> SpeedOfBaudRate(std::uint32_t baudRate) {
    for (const BaudRateSpeed& entry : BAUD_RATES) {
        if (entry.baudRate == baudRate) {
            return entry.speed;
        }
    }
    return std::nullopt;
}

bool SetTtySpeed(int fd, speed_t speed) {
    return ChangeTermios(fd, [speed](termios& settings) {
        cfsetispeed(&settings, speed);
        cfsetospeed(&settings, speed);
    });
}

void ApplyTtyFraming(termios& settings, int dataBits, bool twoStopBits, TtyParity parity) {
    settings.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD);
    settings.c_cflag |= dataBits == 7 ? CS7 : CS8;
    if (twoStopBits) {
        settings.c_cflag |= CSTOPB;
    }
    if (parity != TtyParity::None) {
        settings.c_cflag |= PARENB;
    }
    if (parity == TtyParity::Odd) {
        settings.c_cflag |= PARODD;
    }
}

bool SetTtyFraming(int fd, int dataBits, bool twoStopBits, TtyParity parity) {
    return ChangeTermios(
        fd, [=](termios& settings) { ApplyTtyFraming(settings, dataBits, twoStopBits, parity); });
}

TtyTransfer ReadTty(int fd, std::uint8_t* destination, std::uint32_t count,
                    std::uint32_t timeoutMs) {
    return TransferTty(fd, POLLIN, count, timeoutMs, [=](std::uint32_t done) {
        return read(fd, destination + done, count - done);
    });
}

TtyTransfer WriteTty(int fd, const std::uint8_t* source, std::uint32_t count,
                     std::uint32_t timeoutMs) {
    return TransferTty(fd, POLLOUT, count, timeoutMs,
                       [=](std::uint32_t done) { return write(fd, source + done, count - done); });
}

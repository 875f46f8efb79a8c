#include "linux/tty_port_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace {

constexpr std::int64_t NS_PER_MS = 1'000'000;
constexpr std::int64_t NS_PER_S = 1'000'000'000;

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

std::int64_t MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

timespec DurationOf(std::int64_t ns) {
    return timespec{static_cast<time_t>(ns / NS_PER_S), static_cast<long>(ns % NS_PER_S)};
}

// Waits for `events` until `deadline`. False when the deadline has passed; a signal only makes
// it look again. `revents` receives what poll reported.
bool WaitForTty(int fd, short events, std::int64_t deadline, short& revents, bool& failed) {
    for (;;) {
        const std::int64_t remaining = deadline - MonotonicNs();
        if (remaining <= 0) {
            return false;
        }
        pollfd watched{fd, events, 0};
        const timespec wait = DurationOf(remaining);
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

// Reads the settings, lets `change` alter them and applies them at once.
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

bool ConfigureRawLink(int fd, speed_t speed, int& error) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        error = errno;
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    // Reads return at once with what is there; the timeouts are kept with poll.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    int result = 0;
    do {
        result = tcsetattr(fd, TCSANOW, &settings);
    } while (result != 0 && errno == EINTR);
    if (result != 0 || tcflush(fd, TCIOFLUSH) != 0) {
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

std::uint32_t BaudRateOfSpeed(speed_t speed) {
    for (const BaudRateSpeed& entry : BAUD_RATES) {
        if (entry.speed == speed) {
            return entry.baudRate;
        }
    }
    return 0;
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
    const std::int64_t deadline = MonotonicNs() + static_cast<std::int64_t>(timeoutMs) * NS_PER_MS;
    TtyTransfer result;
    bool hungUp = false;
    while (result.count < count) {
        const ssize_t got = read(fd, destination + result.count, count - result.count);
        if (got > 0) {
            result.count += static_cast<std::uint32_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (!NothingNow(got) || hungUp) {
            // EIO from a tty whose other end is gone, or nothing left after a hang-up.
            result.failed = true;
            break;
        }
        short revents = 0;
        if (!WaitForTty(fd, POLLIN, deadline, revents, result.failed)) {
            break;
        }
        // Whatever a hung-up tty still holds is read first; then the read ends.
        hungUp = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return result;
}

TtyTransfer WriteTty(int fd, const std::uint8_t* source, std::uint32_t count,
                     std::uint32_t timeoutMs) {
    const std::int64_t deadline = MonotonicNs() + static_cast<std::int64_t>(timeoutMs) * NS_PER_MS;
    TtyTransfer result;
    bool hungUp = false;
    while (result.count < count) {
        const ssize_t put = write(fd, source + result.count, count - result.count);
        if (put > 0) {
            result.count += static_cast<std::uint32_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (!NothingNow(put) || hungUp) {
            result.failed = true;
            break;
        }
        short revents = 0;
        if (!WaitForTty(fd, POLLOUT, deadline, revents, result.failed)) {
            break;
        }
        hungUp = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
    return result;
}

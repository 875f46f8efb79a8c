#include "sim/pty/pty_endpoint.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t READ_CHUNK = 4096;

// The rates the Linux device library sets (linux/tty_port_io.cpp), written out again on purpose:
// were the two to share one table, a wrong pair in it would agree with itself and a link at the
// wrong speed would still pass for the tester's.
struct SpeedEntry {
    std::uint32_t baudRate;
    speed_t speed;
};

constexpr SpeedEntry SPEEDS[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000},
};

std::uint32_t BaudRateOf(speed_t speed) {
    for (const SpeedEntry& entry : SPEEDS) {
        if (entry.speed == speed) {
            return entry.baudRate;
        }
    }
    return 0;
}

bool Failed(const char* what, std::string& error) {
    error = std::string(what) + ": " + std::strerror(errno);
    return false;
}

}  // namespace

bool OpenPtyEndpoint(PtyEndpoint& endpoint, bool locked, std::string& error) {
    endpoint.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (endpoint.master < 0) {
        return Failed("posix_openpt", error);
    }
    if (grantpt(endpoint.master) != 0 || unlockpt(endpoint.master) != 0) {
        return Failed("grantpt/unlockpt", error);
    }
    char name[128];
    if (ptsname_r(endpoint.master, name, sizeof name) != 0) {
        return Failed("ptsname", error);
    }
    endpoint.slavePath = name;
    int packetMode = 1;
    if (ioctl(endpoint.master, TIOCPKT, &packetMode) != 0) {
        return Failed("TIOCPKT", error);
    }
    endpoint.slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (endpoint.slave < 0) {
        return Failed("opening the slave", error);
    }
    termios settings{};
    if (tcgetattr(endpoint.slave, &settings) != 0) {
        return Failed("tcgetattr", error);
    }
    // Raw, so that the pseudo-terminal itself never echoes or translates what passes; the
    // speed is the chip's default, not the tester's.
    cfmakeraw(&settings);
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    if (tcsetattr(endpoint.slave, TCSANOW, &settings) != 0) {
        return Failed("tcsetattr", error);
    }
    if (locked && flock(endpoint.slave, LOCK_EX | LOCK_NB) != 0) {
        return Failed("flock", error);
    }
    return true;
}

void ClosePtyEndpoint(PtyEndpoint& endpoint) {
    if (endpoint.slave >= 0) {
        close(endpoint.slave);
        endpoint.slave = -1;
    }
    if (endpoint.master >= 0) {
        close(endpoint.master);
        endpoint.master = -1;
    }
}

MasterInput ReadMaster(const PtyEndpoint& endpoint) {
    MasterInput input;
    std::uint8_t chunk[READ_CHUNK];
    for (;;) {
        const ssize_t got = read(endpoint.master, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        if (got <= 0) {
            input.failed = true;
            break;
        }
        // Packet mode: a data read begins with TIOCPKT_DATA, a status read is one status byte.
        if (chunk[0] == TIOCPKT_DATA) {
            input.bytes.insert(input.bytes.end(), chunk + 1, chunk + got);
        } else {
            input.inputFlushed = input.inputFlushed || (chunk[0] & TIOCPKT_FLUSHREAD) != 0;
            input.outputFlushed = input.outputFlushed || (chunk[0] & TIOCPKT_FLUSHWRITE) != 0;
        }
    }
    return input;
}

long WriteMaster(const PtyEndpoint& endpoint, const std::uint8_t* bytes, std::size_t count) {
    for (;;) {
        const ssize_t put = write(endpoint.master, bytes, count);
        if (put >= 0) {
            return static_cast<long>(put);
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

bool IsTesterLink(const PtyEndpoint& endpoint, std::uint32_t baudRate, std::string& why) {
    termios settings{};
    if (tcgetattr(endpoint.slave, &settings) != 0) {
        why = std::string("tcgetattr: ") + std::strerror(errno);
        return false;
    }
    const std::uint32_t outputRate = BaudRateOf(cfgetospeed(&settings));
    const speed_t inputSpeed = cfgetispeed(&settings);
    why.clear();
    const auto differs = [&why](bool wrong, const std::string& text) {
        if (wrong) {
            why += (why.empty() ? "" : ", ") + text;
        }
    };
    differs(outputRate != baudRate, std::to_string(outputRate) + " baud");
    differs(inputSpeed != B0 && inputSpeed != cfgetospeed(&settings), "input speed differs");
    differs((settings.c_cflag & CSIZE) != CS8, "not 8 data bits");
    differs((settings.c_cflag & PARENB) != 0, "parity");
    differs((settings.c_cflag & CSTOPB) != 0, "2 stop bits");
    differs((settings.c_cflag & CRTSCTS) != 0, "RTS/CTS flow control");
    differs((settings.c_iflag & (IXON | IXOFF)) != 0, "XON/XOFF flow control");
    differs((settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) != 0, "not raw: line editing");
    differs((settings.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK)) != 0,
            "not raw: input translation");
    differs((settings.c_oflag & OPOST) != 0, "not raw: output processing");
    return why.empty();
}

// The device library over a tty, against a pseudo-terminal opened by the test: the test holds
// the master as the chip would, and a slave descriptor of its own to read the settings back.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "link/d2xx.h"
#include "linux/tty_d2xx.h"
#include "linux/tty_port_io.h"
#include "tests/linux/fake_sysfs.h"
#include "tests/linux/interrupting_signal.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr char TESTER_SERIAL[] = "ZVKD0001";
// Long enough that a read that waited for its timeout instead of returning with its bytes
// would overrun the test's time limit.
constexpr std::uint32_t NEVER_MS = 60'000;
// The speed the port is found at, one that no case sets, so that a speed set shows.
constexpr speed_t FOUND_SPEED = B4800;

std::int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

struct ReadResult {
    Bytes bytes;
    FT_STATUS status = FT_OK;
};

class PtyLink : public ::testing::Test {
  protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        char name[128];
        ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
        slavePath = name;
        heldSlave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(heldSlave, 0);
        // As a port may be found: cooked, echoing, with flow control, so that only the
        // library's own set-up makes it the tester's link; and at a speed of its own.
        termios settings{};
        ASSERT_EQ(tcgetattr(heldSlave, &settings), 0);
        settings.c_lflag |= ICANON | ECHO | ISIG;
        settings.c_iflag |= IXON | IXOFF | ICRNL;
        settings.c_oflag |= OPOST;
        settings.c_cflag |= PARENB | CSTOPB | CRTSCTS;
        settings.c_cc[VMIN] = 1;
        cfsetispeed(&settings, FOUND_SPEED);
        cfsetospeed(&settings, FOUND_SPEED);
        ASSERT_EQ(tcsetattr(heldSlave, TCSANOW, &settings), 0);
        tree.AddUsbTty("ttyUSB0", "1-2", TESTER_SERIAL);
        tree.LinkNode("ttyUSB0", slavePath);
        tree.UseForDiscovery();
    }

    void TearDown() override {
        if (link != nullptr) {
            FT_Close(link);
        }
        if (heldSlave >= 0) {
            close(heldSlave);
        }
        if (master >= 0) {
            close(master);
        }
    }

    FT_STATUS Open(const char* serial = TESTER_SERIAL) {
        return FT_OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, &link);
    }

    void OpenTester(std::uint32_t readTimeoutMs) {
        ASSERT_EQ(Open(), FT_OK);
        ASSERT_NE(link, nullptr);
        ASSERT_EQ(FT_SetTimeouts(link, readTimeoutMs, readTimeoutMs), FT_OK);
    }

    termios SlaveSettings() const {
        termios settings{};
        EXPECT_EQ(tcgetattr(heldSlave, &settings), 0);
        return settings;
    }

    void FromChip(const Bytes& bytes) const {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What the PC sent, as the chip receives it, waiting at most `timeoutMs` for `count` bytes.
    Bytes ToChip(std::size_t count, int timeoutMs) const {
        Bytes bytes;
        const auto start = Clock::now();
        while (bytes.size() < count && MsSince(start) < timeoutMs) {
            pollfd watched{master, POLLIN, 0};
            if (poll(&watched, 1, 10) == 1) {
                std::uint8_t chunk[4096];
                const ssize_t got =
                    read(master, chunk, std::min(sizeof chunk, count - bytes.size()));
                if (got > 0) {
                    bytes.insert(bytes.end(), chunk, chunk + got);
                }
            }
        }
        return bytes;
    }

    ReadResult Read(std::uint32_t count) const {
        ReadResult result;
        result.bytes.resize(count);
        std::uint32_t returned = 0xFFFFFFFFu;
        result.status = FT_Read(link, result.bytes.data(), count, &returned);
        EXPECT_LE(returned, count);
        result.bytes.resize(std::min(returned, count));
        return result;
    }

    FakeSysfs tree;
    int master = -1;
    int heldSlave = -1;
    std::string slavePath;
    FT_HANDLE link = nullptr;
};

// The speed as found, as the chip keeps its own when it is opened: only FT_SetBaudRate sets one,
// so that a front end that never calls it fails against the simulated tester, as it would
// against the real one.
TEST_F(PtyLink, OpeningSetsTheTesterLinkUpRaw8N1WithoutFlowControlAtTheSpeedFound) {
    ASSERT_EQ(Open(), FT_OK);
    EXPECT_EQ(LastTtyOpenFailure(), TtyOpenFailure::None);
    EXPECT_EQ(LastTtyOpenNode(), tree.DevRoot() + "/ttyUSB0");
    const termios settings = SlaveSettings();
    EXPECT_EQ(cfgetospeed(&settings), FOUND_SPEED);
    EXPECT_EQ(cfgetispeed(&settings), FOUND_SPEED);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(settings.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 0);
}

TEST_F(PtyLink, OpeningDropsWhatWaitedOnTheLine) {
    FromChip({0x02, 0x01, 0x0A, 0x0A, 0x03});
    OpenTester(100);
    EXPECT_TRUE(Read(5).bytes.empty());
}

TEST_F(PtyLink, AReadReturnsTheBytesAlreadyThere) {
    OpenTester(NEVER_MS);
    FromChip({1, 2, 3, 4, 5, 6});
    const ReadResult read = Read(5);
    EXPECT_EQ(read.status, FT_OK);
    EXPECT_EQ(read.bytes, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(Read(1).bytes, Bytes{6});
}

TEST_F(PtyLink, AReadReturnsOnceTheLastBytesAskedForArrive) {
    OpenTester(NEVER_MS);
    FromChip({1, 2});
    std::thread chip([this] {
        Pause(50);
        FromChip({3});
        Pause(50);
        FromChip({4, 5});
    });
    const ReadResult read = Read(5);
    chip.join();
    EXPECT_EQ(read.status, FT_OK);
    EXPECT_EQ(read.bytes, (Bytes{1, 2, 3, 4, 5}));
}

TEST_F(PtyLink, AReadThatTimesOutReturnsWhatArrivedAndNotBeforeItsTimeout) {
    constexpr std::uint32_t TIMEOUT_MS = 200;
    OpenTester(TIMEOUT_MS);
    FromChip({7, 8, 9});
    const auto start = Clock::now();
    const ReadResult read = Read(8);
    EXPECT_GE(MsSince(start), TIMEOUT_MS);
    EXPECT_EQ(read.status, FT_OK);
    EXPECT_EQ(read.bytes, (Bytes{7, 8, 9}));
}

TEST_F(PtyLink, AReadOfASilentLineReturnsNothingWithStatusOk) {
    constexpr std::uint32_t TIMEOUT_MS = 100;
    OpenTester(TIMEOUT_MS);
    const auto start = Clock::now();
    const ReadResult read = Read(1);
    EXPECT_GE(MsSince(start), TIMEOUT_MS);
    EXPECT_EQ(read.status, FT_OK);
    EXPECT_TRUE(read.bytes.empty());
}

TEST_F(PtyLink, ASignalDoesNotCutAReadShortOfItsBytes) {
    InterruptingSignal signal;
    OpenTester(NEVER_MS);
    const pthread_t reader = pthread_self();
    std::thread chip([this, reader] {
        Pause(40);
        pthread_kill(reader, SIGUSR1);
        Pause(40);
        pthread_kill(reader, SIGUSR1);
        Pause(40);
        FromChip({0x11, 0x22, 0x33});
    });
    const ReadResult read = Read(3);
    chip.join();
    EXPECT_EQ(signal.Caught(), 2);
    EXPECT_EQ(read.status, FT_OK);
    EXPECT_EQ(read.bytes, (Bytes{0x11, 0x22, 0x33}));
}

TEST_F(PtyLink, ASignalDoesNotCutAReadShortOfItsTimeout) {
    constexpr std::uint32_t TIMEOUT_MS = 300;
    InterruptingSignal signal;
    OpenTester(TIMEOUT_MS);
    const pthread_t reader = pthread_self();
    std::thread interrupter([reader] {
        Pause(50);
        pthread_kill(reader, SIGUSR1);
    });
    const auto start = Clock::now();
    const ReadResult read = Read(4);
    const std::int64_t elapsed = MsSince(start);
    interrupter.join();
    EXPECT_EQ(signal.Caught(), 1);
    EXPECT_GE(elapsed, TIMEOUT_MS);
    EXPECT_EQ(read.status, FT_OK);
    EXPECT_TRUE(read.bytes.empty());
}

TEST_F(PtyLink, AWriteSendsEveryByte) {
    OpenTester(1000);
    Bytes frame(300);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::uint32_t written = 0;
    EXPECT_EQ(FT_Write(link, frame.data(), static_cast<std::uint32_t>(frame.size()), &written),
              FT_OK);
    EXPECT_EQ(written, frame.size());
    EXPECT_EQ(ToChip(frame.size(), 5000), frame);
}

TEST_F(PtyLink, AWriteTheChipDoesNotTakeEndsAfterItsTimeoutWithTheCountThatWent) {
    constexpr std::uint32_t TIMEOUT_MS = 200;
    OpenTester(TIMEOUT_MS);
    // Far more than the pseudo-terminal buffers while nobody reads the master.
    Bytes flood(1 << 20, 0x55);
    std::uint32_t written = 0;
    const auto start = Clock::now();
    EXPECT_EQ(FT_Write(link, flood.data(), static_cast<std::uint32_t>(flood.size()), &written),
              FT_OK);
    EXPECT_GE(MsSince(start), TIMEOUT_MS);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, flood.size());
}

TEST_F(PtyLink, AHangUpEndsReadsAndWritesWithAnIoError) {
    OpenTester(2000);
    FromChip({1, 2, 3});
    EXPECT_EQ(Read(3).bytes, (Bytes{1, 2, 3}));
    close(master);  // the device is unplugged
    master = -1;
    const ReadResult read = Read(4);
    EXPECT_EQ(read.status, FT_IO_ERROR);
    EXPECT_TRUE(read.bytes.empty());
    std::uint8_t frame[] = {0x02, 0x01, 0x01, 0x01, 0x03};
    std::uint32_t written = 0;
    EXPECT_EQ(FT_Write(link, frame, sizeof frame, &written), FT_IO_ERROR);
}

TEST_F(PtyLink, TheLinkIsClaimedWhileOpenAndFreeAgainAfterClosing) {
    ASSERT_EQ(Open(), FT_OK);
    int exclusive = 0;
    ASSERT_EQ(ioctl(heldSlave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    ASSERT_EQ(FT_Close(link), FT_OK);
    link = nullptr;
    ASSERT_EQ(ioctl(heldSlave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the exclusive mode outlived the close";
    EXPECT_EQ(Open(), FT_OK);
}

TEST_F(PtyLink, ASecondOpenIsRefusedAsInUse) {
    ASSERT_EQ(Open(), FT_OK);
    FT_HANDLE second = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char*>(TESTER_SERIAL), FT_OPEN_BY_SERIAL_NUMBER, &second),
              FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(LastTtyOpenFailure(), TtyOpenFailure::InUse);
}

TEST_F(PtyLink, ANodeLockedByAnotherProgramIsRefusedAsInUse) {
    const int other = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Open(), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(LastTtyOpenFailure(), TtyOpenFailure::InUse);
    EXPECT_EQ(LastTtyOpenErrno(), EWOULDBLOCK);
    EXPECT_EQ(LastTtyOpenNode(), tree.DevRoot() + "/ttyUSB0");
    close(other);
    EXPECT_EQ(Open(), FT_OK);
    EXPECT_EQ(LastTtyOpenFailure(), TtyOpenFailure::None);
}

TEST_F(PtyLink, AnUnknownSerialNumberIsNotFound) {
    EXPECT_EQ(Open("ZVKD0002"), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(LastTtyOpenFailure(), TtyOpenFailure::NotFound);
    EXPECT_EQ(LastTtyOpenErrno(), 0);
    // Serial numbers match whole, never by their beginning.
    EXPECT_EQ(Open("ZVKD"), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(Open(""), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(link, nullptr);
}

TEST_F(PtyLink, ANodeThatHasGoneIsNotFound) {
    tree.AddUsbTty("ttyUSB1", "1-3", "ZVKD0002");
    tree.LinkNode("ttyUSB1", tree.Root() + "/no-such-node");
    EXPECT_EQ(Open("ZVKD0002"), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(LastTtyOpenFailure(), TtyOpenFailure::NotFound);
    EXPECT_EQ(LastTtyOpenErrno(), ENOENT);
}

TEST_F(PtyLink, ANodeThatIsNoTtyIsRefused) {
    tree.AddUsbTty("ttyUSB1", "1-3", "ZVKD0002");
    tree.LinkNode("ttyUSB1", "/dev/null");
    EXPECT_EQ(Open("ZVKD0002"), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(LastTtyOpenFailure(), TtyOpenFailure::Other);
    EXPECT_EQ(LastTtyOpenErrno(), ENOTTY);
}

// Root passes every permission check, so the open is tried by a child that has dropped to
// nobody; a user without privileges takes the permission away from itself instead.
TEST_F(PtyLink, ANodeWithoutPermissionIsNoPermission) {
    constexpr uid_t NOBODY = 65534;
    const bool root = geteuid() == 0;
    ASSERT_EQ(chmod(slavePath.c_str(), root ? 0600 : 0), 0);
    tree.OpenToEveryone();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (root && (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0)) {
            _exit(100);
        }
        FT_HANDLE handle = nullptr;
        const FT_STATUS status =
            FT_OpenEx(const_cast<char*>(TESTER_SERIAL), FT_OPEN_BY_SERIAL_NUMBER, &handle);
        const bool refused = status == FT_DEVICE_NOT_OPENED && handle == nullptr;
        const bool why = LastTtyOpenFailure() == TtyOpenFailure::NoPermission &&
                         (LastTtyOpenErrno() == EACCES || LastTtyOpenErrno() == EPERM);
        _exit(refused ? (why ? 0 : 2) : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "1: the open was not refused; 2: refused for another reason; 100: cannot drop to nobody";
}

TEST_F(PtyLink, UnknownHandlesAreRefused) {
    int notAHandle = 0;
    std::uint8_t buffer[4];
    std::uint32_t count = 0;
    EXPECT_EQ(FT_Read(&notAHandle, buffer, 4, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Write(&notAHandle, buffer, 4, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetBaudRate(&notAHandle, 115200), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(&notAHandle), FT_INVALID_HANDLE);
    ASSERT_EQ(Open(), FT_OK);
    ASSERT_EQ(FT_Close(link), FT_OK);
    EXPECT_EQ(FT_Close(link), FT_INVALID_HANDLE);
    link = nullptr;
}

struct BaudRateCase {
    const char* label;
    std::uint32_t baudRate;
    FT_STATUS status;
    speed_t speed;  // what the tty then runs at
};

// Named by the label in test output, not dumped as bytes.
void PrintTo(const BaudRateCase& c, std::ostream* os) {
    *os << c.label;
}

class BaudRates : public PtyLink, public ::testing::WithParamInterface<BaudRateCase> {};

TEST_P(BaudRates, SetTheTtySpeed) {
    ASSERT_EQ(Open(), FT_OK);
    EXPECT_EQ(FT_SetBaudRate(link, GetParam().baudRate), GetParam().status);
    const termios settings = SlaveSettings();
    EXPECT_EQ(cfgetospeed(&settings), GetParam().speed);
    EXPECT_EQ(cfgetispeed(&settings), GetParam().speed);
}

INSTANTIATE_TEST_SUITE_P(Rates, BaudRates,
                         ::testing::Values(BaudRateCase{"Rate9600", 9600, FT_OK, B9600},
                                           BaudRateCase{"Rate115200", 115200, FT_OK, B115200},
                                           BaudRateCase{"Rate921600", 921600, FT_OK, B921600},
                                           BaudRateCase{"NonStandardRateRefused", 12345,
                                                        FT_INVALID_PARAMETER, FOUND_SPEED},
                                           BaudRateCase{"ZeroRefused", 0, FT_INVALID_PARAMETER,
                                                        FOUND_SPEED}),
                         ::testing::PrintToStringParamName());

struct AcceptedFraming {
    const char* label;
    std::uint8_t wordLength;
    std::uint8_t stopBits;
    std::uint8_t parity;
    // The framing the tty is then given.
    bool twoStopBits;
    TtyParity ttyParity;
    tcflag_t flags;  // CSIZE, CSTOPB, PARENB and PARODD as the settings then have them
    // A pseudo-terminal keeps itself at 8 bits without parity whatever it is told, and refuses
    // a framing of which it can take nothing at all (7N1); such a framing is checked in the
    // settings only.
    bool takenByAPty;
};

struct RefusedFraming {
    const char* label;
    std::uint8_t wordLength;
    std::uint8_t stopBits;
    std::uint8_t parity;
};

// Named by the label in test output, not dumped as bytes.
void PrintTo(const AcceptedFraming& c, std::ostream* os) {
    *os << c.label;
}
void PrintTo(const RefusedFraming& c, std::ostream* os) {
    *os << c.label;
}

const AcceptedFraming ACCEPTED_FRAMINGS[] = {
    {"EightNoneOne", FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE, false, TtyParity::None, CS8, true},
    {"SevenEvenTwo", FT_BITS_7, FT_STOP_BITS_2, FT_PARITY_EVEN, true, TtyParity::Even,
     CS7 | CSTOPB | PARENB, true},
    {"SevenNoneOne", FT_BITS_7, FT_STOP_BITS_1, FT_PARITY_NONE, false, TtyParity::None, CS7, false},
    {"EightOddOne", FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_ODD, false, TtyParity::Odd,
     CS8 | PARENB | PARODD, true},
};

std::vector<AcceptedFraming> FramingsAPtyTakes() {
    std::vector<AcceptedFraming> taken;
    for (const AcceptedFraming& framing : ACCEPTED_FRAMINGS) {
        if (framing.takenByAPty) {
            taken.push_back(framing);
        }
    }
    return taken;
}

const RefusedFraming REFUSED_FRAMINGS[] = {
    {"NineBitsRefused", 9, FT_STOP_BITS_1, FT_PARITY_NONE},
    {"OneAndAHalfStopBitsRefused", FT_BITS_8, 1, FT_PARITY_NONE},
    {"MarkParityRefused", FT_BITS_8, FT_STOP_BITS_1, 3},
};

// The stop bits and the parity's sense are what a pseudo-terminal shows of the framing set.
constexpr tcflag_t PTY_SHOWN_FRAMING = CSTOPB | PARODD;

class Framings : public PtyLink, public ::testing::WithParamInterface<AcceptedFraming> {};

TEST_P(Framings, SetTheTtyFraming) {
    ASSERT_EQ(Open(), FT_OK);
    EXPECT_EQ(FT_SetDataCharacteristics(link, GetParam().wordLength, GetParam().stopBits,
                                        GetParam().parity),
              FT_OK);
    EXPECT_EQ(SlaveSettings().c_cflag & PTY_SHOWN_FRAMING, GetParam().flags & PTY_SHOWN_FRAMING);
}

class RefusedFramings : public PtyLink, public ::testing::WithParamInterface<RefusedFraming> {};

TEST_P(RefusedFramings, LeaveTheTtyAsItWas) {
    ASSERT_EQ(Open(), FT_OK);
    EXPECT_EQ(FT_SetDataCharacteristics(link, GetParam().wordLength, GetParam().stopBits,
                                        GetParam().parity),
              FT_INVALID_PARAMETER);
    EXPECT_EQ(SlaveSettings().c_cflag & PTY_SHOWN_FRAMING, 0u);
}

class FramingSettings : public ::testing::TestWithParam<AcceptedFraming> {};

// The framing written into the settings in full, as a real tty keeps it.
TEST_P(FramingSettings, WriteTheFramingFlags) {
    termios settings{};
    settings.c_cflag = CS8 | CREAD | CLOCAL;
    ApplyTtyFraming(settings, GetParam().wordLength, GetParam().twoStopBits, GetParam().ttyParity);
    EXPECT_EQ(settings.c_cflag & (CSIZE | CSTOPB | PARENB | PARODD), GetParam().flags);
    EXPECT_EQ(settings.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
}

INSTANTIATE_TEST_SUITE_P(Framing, Framings, ::testing::ValuesIn(FramingsAPtyTakes()),
                         ::testing::PrintToStringParamName());
INSTANTIATE_TEST_SUITE_P(Framing, RefusedFramings, ::testing::ValuesIn(REFUSED_FRAMINGS),
                         ::testing::PrintToStringParamName());
INSTANTIATE_TEST_SUITE_P(Framing, FramingSettings, ::testing::ValuesIn(ACCEPTED_FRAMINGS),
                         ::testing::PrintToStringParamName());

}  // namespace

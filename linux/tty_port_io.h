// A serial tty opened for the tester link: exclusive opening, raw set-up, and reads and writes
// bounded by a timeout on the monotonic clock that a signal does not cut short.
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>

// Opens the node read-write, not as a controlling terminal and without waiting for a carrier,
// and claims it: an flock that a second updater or a locking terminal program also takes, and
// TIOCEXCL, which refuses further opens. The open file descriptor, or -1 with `error` set to the
// errno of the step that failed.
int OpenExclusiveTty(const std::string& node, int& error);

// Gives up the claim and closes the descriptor (the flock goes with it).
void CloseTty(int fd);

// Raw bytes, 8N1, no flow control of either kind, reads that never wait by themselves, at the
// speed the tty already has; then drops whatever waits in either direction, as the device library
// does when it opens a device. False with `error` set when the tty refuses.
bool ConfigureRawLink(int fd, int& error);

// The termios speed for a baud rate; none for a rate without one.
std::optional<speed_t> SpeedOfBaudRate(std::uint32_t baudRate);

enum class TtyParity { None, Odd, Even };

bool SetTtySpeed(int fd, speed_t speed);
// `dataBits` 7 or 8.
bool SetTtyFraming(int fd, int dataBits, bool twoStopBits, TtyParity parity);
// The framing as SetTtyFraming writes it into the settings.
void ApplyTtyFraming(termios& settings, int dataBits, bool twoStopBits, TtyParity parity);

struct TtyTransfer {
    std::uint32_t count = 0;
    // The tty has gone: hung up, as when the device is unplugged, or an I/O error.
    bool failed = false;
};

// Returns once `count` bytes have been read or `timeoutMs` has passed, with what arrived by then.
// A timeout of 0 takes only what is already there.
TtyTransfer ReadTty(int fd, std::uint8_t* destination, std::uint32_t count,
                    std::uint32_t timeoutMs);

// Writes all `count` bytes unless `timeoutMs` passes first; `count` tells how many went.
TtyTransfer WriteTty(int fd, const std::uint8_t* source, std::uint32_t count,
                     std::uint32_t timeoutMs);

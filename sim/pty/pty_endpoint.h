// One simulated FTDI port as a pseudo-terminal: the updater opens the slave as its tty, the
// server plays the chip on the master.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PtyEndpoint {
    int master = -1;
    // Held open for the server's whole life, so that the master never sees a hang-up between
    // the updater's runs.
    int slave = -1;
    std::string slavePath;
};

// Opens a pseudo-terminal whose master reports the slave's flushes (packet mode), its slave
// raw at 9600 baud as a freshly plugged chip is, so not yet set up as the tester's link. With
// `locked`, the server holds an flock on the slave, as another program using the port would.
bool OpenPtyEndpoint(PtyEndpoint& endpoint, bool locked, std::string& error);
void ClosePtyEndpoint(PtyEndpoint& endpoint);

struct MasterInput {
    std::vector<std::uint8_t> bytes;
    // The slave dropped what waited for it, as the updater does when it opens the port.
    bool inputFlushed = false;
    // The slave dropped what it had not yet sent.
    bool outputFlushed = false;
    bool failed = false;
};

// Everything waiting on the master now, without waiting.
MasterInput ReadMaster(const PtyEndpoint& endpoint);

// Writes what the master takes now; returns how many bytes went, -1 when the master failed.
long WriteMaster(const PtyEndpoint& endpoint, const std::uint8_t* bytes, std::size_t count);

// Whether the slave is set up as the tester's link (`baudRate`, raw, 8N1, no flow control),
// as tcgetattr reads it; if not, `why` says what differs.
bool IsTesterLink(const PtyEndpoint& endpoint, std::uint32_t baudRate, std::string& why);

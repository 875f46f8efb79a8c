// A fake root with sys/ and dev/ laid out as the kernel lays them out for serial ports, so that
// the updater's discovery finds the simulated devices where it finds real ones. Everything made
// is remembered, so that it, and nothing else, is removed again.
#pragma once

#include <string>
#include <vector>

struct FakeTree {
    std::string root;
    // In the order made; removed in reverse.
    std::vector<std::string> created;
};

// Makes the root and its sys/ and dev/ folders where missing, and sys/class/tty unless
// `withTtyClass` is false (sysfs without ttys: nothing can be listed). False with `error` on
// failure.
bool StartFakeTree(FakeTree& tree, const std::string& root, bool withTtyClass, std::string& error);

// A tty of the FTDI driver: the USB device 1-`usbPort` carrying `serial` (no serial file when
// `hasSerial` is false), its interface, the usb-serial port bound to ftdi_sio, the class entry,
// and dev/NAME as a symlink to `node`.
bool AddFtdiTty(FakeTree& tree, const std::string& name, int usbPort, bool hasSerial,
                const std::string& serial, const std::string& node, std::string& error);

// Ttys of other kinds that discovery must pass over: a serial port of the 8250 driver and a
// virtual console without any device.
bool AddOtherTtys(FakeTree& tree, std::string& error);

// What dev/NAME and the class entry sys/class/tty/NAME are, for taking a tty away.
std::string DevLinkOf(const FakeTree& tree, const std::string& name);
std::string ClassEntryOf(const FakeTree& tree, const std::string& name);

// Removes one path made earlier (a device unplugged); false when it was not made here.
bool RemoveCreated(FakeTree& tree, const std::string& path);

// Removes everything made, newest first; folders only when empty.
void RemoveFakeTree(FakeTree& tree);

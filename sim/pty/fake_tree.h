// A fake root with sys/ and dev/ laid out as the kernel lays them out for serial ports, so that
// the updater's discovery finds the simulated devices where it finds real ones: the one builder
// of that layout, for vivad-sim-pty and for the tests of discovery. Everything made is readable
// by everyone and remembered, so that it, and nothing else, is removed again.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct FakeTree {
    std::string root;
    // In the order made; removed in reverse.
    std::vector<std::string> created;
};

// Makes the root and its sys/ and dev/ folders where missing, and sys/class/tty unless
// `withTtyClass` is false (sysfs without ttys: nothing can be listed). False with `error` on
// failure, here and in every function below.
bool StartFakeTree(FakeTree& tree, const std::string& root, bool withTtyClass, std::string& error);

// A tty of a USB serial driver: the USB device `usbDevice` (e.g. "1-2") under the host
// controller, with the FTDI chip's IDs and names and `serial` (none: no serial file); its
// interface; the usb-serial port NAME bound to `driver`; its class device, and the class entry.
bool AddUsbSerialTty(FakeTree& tree, const std::string& name, const std::string& usbDevice,
                     const std::optional<std::string>& serial, const std::string& driver,
                     std::string& error);

// A tty of a platform serial port bound to `driver`, e.g. ttyS0 of serial8250.
bool AddPlatformTty(FakeTree& tree, const std::string& name, const std::string& driver,
                    std::string& error);

// A tty without a device, as a virtual console is.
bool AddVirtualTty(FakeTree& tree, const std::string& name, std::string& error);

// dev/NAME as a symlink to `target`.
bool LinkDevNode(FakeTree& tree, const std::string& name, const std::string& target,
                 std::string& error);

// Makes `path` readable by everyone, and a folder passable too, whatever the umask, so that a
// test may run the updater as an unprivileged user.
void OpenToEveryone(const std::string& path, bool folder);

// What dev/NAME and the class entry sys/class/tty/NAME are, for taking a tty away.
std::string DevLinkOf(const FakeTree& tree, const std::string& name);
std::string ClassEntryOf(const FakeTree& tree, const std::string& name);

// Removes one path made earlier (a device unplugged); false when it was not made here.
bool RemoveCreated(FakeTree& tree, const std::string& path);

// Removes everything made, newest first; folders only when empty.
void RemoveFakeTree(FakeTree& tree);

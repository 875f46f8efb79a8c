// The serial ports of the kernel's FTDI driver (ftdi_sio), found in sysfs: each tty whose
// usb-serial port is bound to that driver, with the serial number of the USB device it belongs
// to and the device node it is reached through.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TtyPort {
    // The tty's name, e.g. "ttyUSB0".
    std::string name;
    // The device node, e.g. "/dev/ttyUSB0".
    std::string node;
    // The USB device's serial number; empty when it has none that can be read.
    std::string serial;
};

// Test settings: where sysfs and the device nodes are looked for instead of /sys and /dev.
constexpr char SYSFS_ROOT_VARIABLE[] = "VIVAD_SYSFS_ROOT";
constexpr char DEV_ROOT_VARIABLE[] = "VIVAD_DEV_ROOT";

// The FTDI ttys attached now, in the natural order of their names.
std::vector<TtyPort> ScanFtdiTtyPorts();

// Natural order: runs of digits compare by their value, so ttyUSB2 comes before ttyUSB10.
bool TtyNameLess(std::string_view a, std::string_view b);

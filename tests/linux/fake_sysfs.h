// A sysfs tree and a /dev folder made by a test in a fresh temporary folder, laid out as the
// kernel lays out serial ports, and pointed to by VIVAD_SYSFS_ROOT and VIVAD_DEV_ROOT while it
// lives.
#pragma once

#include <optional>
#include <string>

class FakeSysfs {
  public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    // A tty of a USB serial driver: class/tty/NAME -> the port's tty folder, whose device link
    // leads to the port; the port's driver link names `driver`; the USB device two levels up
    // holds `serial` (none: no serial file) and the vendor and product IDs.
    void AddUsbTty(const std::string& name, const std::string& usbDevice,
                   const std::optional<std::string>& serial,
                   const std::string& driver = "ftdi_sio");
    // A tty of a platform serial port (e.g. ttyS0 of the 8250 driver).
    void AddPlatformTty(const std::string& name, const std::string& driver);
    // A tty without a device, as a virtual console is.
    void AddVirtualTty(const std::string& name);
    // dev/NAME as a symlink to `target`.
    void LinkNode(const std::string& name, const std::string& target);

    // Makes the tree readable by everyone, for a test that drops its privileges.
    void OpenToEveryone();

    const std::string& Root() const { return root_; }
    std::string SysRoot() const { return root_ + "/sys"; }
    std::string DevRoot() const { return root_ + "/dev"; }

    // Points the environment at this tree; the destructor takes the variables away again.
    void UseForDiscovery() const;

  private:
    std::string root_;
};

// A sysfs tree and a /dev folder made by a test in a fresh temporary folder, laid out by the
// simulator's builder of that layout (sim/pty/fake_tree.h), and pointed to by VIVAD_SYSFS_ROOT
// and VIVAD_DEV_ROOT while it lives. A step that cannot be made fails the test.
#pragma once

#include <optional>
#include <string>

#include "sim/pty/fake_tree.h"

class FakeSysfs {
  public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    // A tty of a USB serial driver: class/tty/NAME -> the port's tty folder, whose device link
    // leads to the port; the port's driver link names `driver`; the USB device two levels up
    // holds `serial` (none: no serial file) and the chip's IDs and names.
    void AddUsbTty(const std::string& name, const std::string& usbDevice,
                   const std::optional<std::string>& serial,
                   const std::string& driver = "ftdi_sio");
    // A tty of a platform serial port (e.g. ttyS0 of the 8250 driver).
    void AddPlatformTty(const std::string& name, const std::string& driver);
    // A tty without a device, as a virtual console is.
    void AddVirtualTty(const std::string& name);
    // dev/NAME as a symlink to `target`.
    void LinkNode(const std::string& name, const std::string& target);

    // Makes the tree readable by everyone, for a test that drops its privileges: what is made
    // in it already is, so only the temporary folder itself is left to open.
    void OpenToEveryone();

    const std::string& Root() const { return root_; }
    std::string SysRoot() const { return root_ + "/sys"; }
    std::string DevRoot() const { return root_ + "/dev"; }

    // Points the environment at this tree; the destructor takes the variables away again.
    void UseForDiscovery() const;

  private:
    std::string root_;
    FakeTree tree_;
};

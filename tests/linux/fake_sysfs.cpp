#include "tests/linux/fake_sysfs.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "linux/sysfs_tty_ports.h"

namespace fs = std::filesystem;

namespace {

void WriteAttribute(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text << '\n';
}

}  // namespace

FakeSysfs::FakeSysfs() {
    char pattern[] = "/tmp/vivad-sysfs-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) {
        ADD_FAILURE() << "cannot make a temporary folder";
        return;
    }
    root_ = made;
    fs::create_directories(SysRoot() + "/class/tty");
    fs::create_directories(DevRoot());
}

FakeSysfs::~FakeSysfs() {
    unsetenv(SYSFS_ROOT_VARIABLE);
    unsetenv(DEV_ROOT_VARIABLE);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void FakeSysfs::AddUsbTty(const std::string& name, const std::string& usbDevice,
                          const std::optional<std::string>& serial, const std::string& driver) {
    // .../usb1/1-2 (device) / 1-2:1.0 (interface) / ttyUSB0 (port) / tty/ttyUSB0 (class device)
    const std::string devices = "devices/pci0000:00/0000:00:14.0/usb1/";
    const fs::path device = SysRoot() + "/" + devices + usbDevice;
    const fs::path port = device / (usbDevice + ":1.0") / name;
    fs::create_directories(port / "tty" / name);
    fs::create_directories(SysRoot() + "/bus/usb-serial/drivers/" + driver);
    if (serial) {
        WriteAttribute(device / "serial", *serial);
    }
    WriteAttribute(device / "idVendor", "0403");
    WriteAttribute(device / "idProduct", "6001");
    fs::create_symlink("../../../../../../../bus/usb-serial/drivers/" + driver, port / "driver");
    fs::create_symlink("../../../" + name, port / "tty" / name / "device");
    fs::create_symlink(
        "../../" + devices + usbDevice + "/" + usbDevice + ":1.0/" + name + "/tty/" + name,
        SysRoot() + "/class/tty/" + name);
}

void FakeSysfs::AddPlatformTty(const std::string& name, const std::string& driver) {
    const fs::path port = SysRoot() + "/devices/platform/" + driver + ".0";
    fs::create_directories(port / "tty" / name);
    fs::create_directories(SysRoot() + "/bus/platform/drivers/" + driver);
    fs::create_symlink("../../../bus/platform/drivers/" + driver, port / "driver");
    fs::create_symlink("../../../" + driver + ".0", port / "tty" / name / "device");
    fs::create_symlink("../../devices/platform/" + driver + ".0/tty/" + name,
                       SysRoot() + "/class/tty/" + name);
}

void FakeSysfs::AddVirtualTty(const std::string& name) {
    fs::create_directories(SysRoot() + "/devices/virtual/tty/" + name);
    fs::create_symlink("../../devices/virtual/tty/" + name, SysRoot() + "/class/tty/" + name);
}

void FakeSysfs::LinkNode(const std::string& name, const std::string& target) {
    fs::create_symlink(target, DevRoot() + "/" + name);
}

void FakeSysfs::OpenToEveryone() {
    const auto open = [](const fs::path& path) {
        std::error_code ignored;
        fs::permissions(path,
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec,
                        ignored);
    };
    open(root_);
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
        if (entry.is_directory() && !entry.is_symlink()) {
            open(entry.path());
        }
    }
}

void FakeSysfs::UseForDiscovery() const {
    setenv(SYSFS_ROOT_VARIABLE, SysRoot().c_str(), 1);
    setenv(DEV_ROOT_VARIABLE, DevRoot().c_str(), 1);
}

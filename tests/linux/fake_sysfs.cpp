#include "tests/linux/fake_sysfs.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "linux/sysfs_tty_ports.h"

FakeSysfs::FakeSysfs() {
    char pattern[] = "/tmp/vivad-sysfs-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) {
        // The root stays empty, and nothing is made: not outside a folder of the test's own.
        ADD_FAILURE() << "cannot make a temporary folder";
        return;
    }
    root_ = made;
    std::string error;
    if (!StartFakeTree(tree_, root_, true, error)) {
        ADD_FAILURE() << error;
    }
}

FakeSysfs::~FakeSysfs() {
    unsetenv(SYSFS_ROOT_VARIABLE);
    unsetenv(DEV_ROOT_VARIABLE);
    // Whole, with whatever a test put in it beside the tree.
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void FakeSysfs::AddUsbTty(const std::string& name, const std::string& usbDevice,
                          const std::optional<std::string>& serial, const std::string& driver) {
    std::string error;
    EXPECT_TRUE(!root_.empty() && AddUsbSerialTty(tree_, name, usbDevice, serial, driver, error))
        << error;
}

void FakeSysfs::AddPlatformTty(const std::string& name, const std::string& driver) {
    std::string error;
    EXPECT_TRUE(!root_.empty() && ::AddPlatformTty(tree_, name, driver, error)) << error;
}

void FakeSysfs::AddVirtualTty(const std::string& name) {
    std::string error;
    EXPECT_TRUE(!root_.empty() && ::AddVirtualTty(tree_, name, error)) << error;
}

void FakeSysfs::LinkNode(const std::string& name, const std::string& target) {
    std::string error;
    EXPECT_TRUE(!root_.empty() && LinkDevNode(tree_, name, target, error)) << error;
}

void FakeSysfs::OpenToEveryone() {
    ::OpenToEveryone(root_, true);
}

void FakeSysfs::UseForDiscovery() const {
    setenv(SYSFS_ROOT_VARIABLE, SysRoot().c_str(), 1);
    setenv(DEV_ROOT_VARIABLE, DevRoot().c_str(), 1);
}

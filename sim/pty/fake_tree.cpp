#include "sim/pty/fake_tree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// The PCI path of the USB host controller that the simulated devices hang off.
constexpr char USB_BUS[] = "sys/devices/pci0000:00/0000:00:14.0/usb1";

std::string Failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string Full(const FakeTree& tree, const std::string& relative) {
    return tree.root + "/" + relative;
}

std::string ClassEntryPath(const std::string& name) {
    return "sys/class/tty/" + name;
}

bool MakeDirectory(FakeTree& tree, const std::string& relative, std::string& error) {
    const std::string path = Full(tree, relative);
    if (mkdir(path.c_str(), 0755) == 0) {
        tree.created.push_back(path);
        OpenToEveryone(path, true);
        return true;
    }
    struct stat status {};
    if (errno == EEXIST && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        return true;
    }
    error = Failure("cannot make the folder", path);
    return false;
}

// Makes every missing folder on the way to `relative`, the last one included.
bool MakeDirectories(FakeTree& tree, const std::string& relative, std::string& error) {
    std::size_t slash = 0;
    do {
        slash = relative.find('/', slash + 1);
        if (!MakeDirectory(tree, relative.substr(0, slash), error)) {
            return false;
        }
    } while (slash != std::string::npos);
    return true;
}

bool WriteAttribute(FakeTree& tree, const std::string& relative, const std::string& text,
                    std::string& error) {
    const std::string path = Full(tree, relative);
    if (access(path.c_str(), F_OK) == 0) {
        error = "already there, not made by this server: " + path;
        return false;
    }
    std::ofstream file(path, std::ios::binary);
    file << text << '\n';
    if (!file.flush()) {
        error = Failure("cannot write", path);
        return false;
    }
    tree.created.push_back(path);
    OpenToEveryone(path, false);
    return true;
}

bool MakeSymlink(FakeTree& tree, const std::string& relative, const std::string& target,
                 std::string& error) {
    const std::string path = Full(tree, relative);
    if (symlink(target.c_str(), path.c_str()) != 0) {
        error = errno == EEXIST ? "already there, not made by this server: " + path
                                : Failure("cannot make the link", path);
        return false;
    }
    tree.created.push_back(path);
    return true;
}

// The link `link` to `target`, both under the root, written as sysfs writes its links: up from
// the link's folder to the folder holding the target, then the target's name.
bool MakeSysfsLink(FakeTree& tree, const std::string& link, const std::string& target,
                   std::string& error) {
    const fs::path to(target);
    const fs::path relative =
        to.parent_path().lexically_relative(fs::path(link).parent_path()) / to.filename();
    return MakeSymlink(tree, link, relative.string(), error);
}

}  // namespace

void OpenToEveryone(const std::string& path, bool folder) {
    chmod(path.c_str(), folder ? 0755 : 0644);
}

bool StartFakeTree(FakeTree& tree, const std::string& root, bool withTtyClass, std::string& error) {
    tree.root = root;
    while (tree.root.size() > 1 && tree.root.back() == '/') {
        tree.root.pop_back();
    }
    const std::string path = tree.root;
    if (mkdir(path.c_str(), 0755) == 0) {
        tree.created.push_back(path);
        OpenToEveryone(path, true);
    } else if (errno != EEXIST) {
        error = Failure("cannot make the root", path);
        return false;
    }
    return MakeDirectories(tree, withTtyClass ? "sys/class/tty" : "sys", error) &&
           MakeDirectory(tree, "dev", error);
}

bool AddUsbSerialTty(FakeTree& tree, const std::string& name, const std::string& usbDevice,
                     const std::optional<std::string>& serial, const std::string& driver,
                     std::string& error) {
    const std::string device = std::string(USB_BUS) + "/" + usbDevice;
    const std::string interface = device + "/" + usbDevice + ":1.0";
    const std::string port = interface + "/" + name;
    const std::string classDevice = port + "/tty/" + name;
    const std::string driverFolder = "sys/bus/usb-serial/drivers/" + driver;
    return MakeDirectories(tree, device, error) &&
           (!serial || WriteAttribute(tree, device + "/serial", *serial, error)) &&
           WriteAttribute(tree, device + "/idVendor", "0403", error) &&
           WriteAttribute(tree, device + "/idProduct", "6001", error) &&
           WriteAttribute(tree, device + "/manufacturer", "FTDI", error) &&
           WriteAttribute(tree, device + "/product", "FT232R USB UART", error) &&
           MakeDirectories(tree, driverFolder, error) &&
           MakeDirectories(tree, classDevice, error) &&
           MakeSysfsLink(tree, port + "/driver", driverFolder, error) &&
           MakeSysfsLink(tree, classDevice + "/device", port, error) &&
           MakeSysfsLink(tree, ClassEntryPath(name), classDevice, error);
}

bool AddPlatformTty(FakeTree& tree, const std::string& name, const std::string& driver,
                    std::string& error) {
    const std::string device = "sys/devices/platform/" + driver;
    const std::string classDevice = device + "/tty/" + name;
    const std::string driverFolder = "sys/bus/platform/drivers/" + driver;
    return MakeDirectories(tree, classDevice, error) &&
           MakeDirectories(tree, driverFolder, error) &&
           MakeSysfsLink(tree, device + "/driver", driverFolder, error) &&
           MakeSysfsLink(tree, classDevice + "/device", device, error) &&
           MakeSysfsLink(tree, ClassEntryPath(name), classDevice, error);
}

bool AddVirtualTty(FakeTree& tree, const std::string& name, std::string& error) {
    const std::string classDevice = "sys/devices/virtual/tty/" + name;
    return MakeDirectories(tree, classDevice, error) &&
           MakeSysfsLink(tree, ClassEntryPath(name), classDevice, error);
}

bool LinkDevNode(FakeTree& tree, const std::string& name, const std::string& target,
                 std::string& error) {
    return MakeSymlink(tree, "dev/" + name, target, error);
}

std::string DevLinkOf(const FakeTree& tree, const std::string& name) {
    return Full(tree, "dev/" + name);
}

std::string ClassEntryOf(const FakeTree& tree, const std::string& name) {
    return Full(tree, ClassEntryPath(name));
}

bool RemoveCreated(FakeTree& tree, const std::string& path) {
    const auto found = std::find(tree.created.begin(), tree.created.end(), path);
    if (found == tree.created.end()) {
        return false;
    }
    tree.created.erase(found);
    return unlink(path.c_str()) == 0;
}

void RemoveFakeTree(FakeTree& tree) {
    for (auto it = tree.created.rbegin(); it != tree.created.rend(); ++it) {
        struct stat status {};
        if (lstat(it->c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
            rmdir(it->c_str());  // fails, as it should, when something else was put inside
        } else {
            unlink(it->c_str());
        }
    }
    tree.created.clear();
}

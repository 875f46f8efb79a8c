#include "sim/pty/fake_tree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

// The PCI path of the USB host controller that the simulated devices hang off.
constexpr char USB_BUS[] = "sys/devices/pci0000:00/0000:00:14.0/usb1";

std::string Failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string Full(const FakeTree& tree, const std::string& relative) {
    return tree.root + "/" + relative;
}

// Readable by everyone, so that a test may run the updater as an unprivileged user.
bool MakeDirectory(FakeTree& tree, const std::string& relative, std::string& error) {
    const std::string path = Full(tree, relative);
    if (mkdir(path.c_str(), 0755) == 0) {
        tree.created.push_back(path);
        chmod(path.c_str(), 0755);  // whatever the umask
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
    chmod(path.c_str(), 0644);
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

// "../" once for each folder of `relative`, to climb from inside it back to where it starts.
std::string UpFrom(const std::string& relative) {
    std::string up;
    for (std::size_t i = 0; i <= relative.size(); ++i) {
        if (i == relative.size() || relative[i] == '/') {
            up += "../";
        }
    }
    return up;
}

}  // namespace

bool StartFakeTree(FakeTree& tree, const std::string& root, bool withTtyClass, std::string& error) {
    tree.root = root;
    while (tree.root.size() > 1 && tree.root.back() == '/') {
        tree.root.pop_back();
    }
    const std::string path = tree.root;
    if (mkdir(path.c_str(), 0755) == 0) {
        tree.created.push_back(path);
        chmod(path.c_str(), 0755);
    } else if (errno != EEXIST) {
        error = Failure("cannot make the root", path);
        return false;
    }
    return MakeDirectories(tree, withTtyClass ? "sys/class/tty" : "sys", error) &&
           MakeDirectory(tree, "dev", error);
}

bool AddFtdiTty(FakeTree& tree, const std::string& name, int usbPort, bool hasSerial,
                const std::string& serial, const std::string& node, std::string& error) {
    const std::string usbDevice = std::string(USB_BUS) + "/1-" + std::to_string(usbPort);
    const std::string interface = usbDevice + "/1-" + std::to_string(usbPort) + ":1.0";
    const std::string port = interface + "/" + name;
    const std::string classDevice = port + "/tty/" + name;
    const std::string driver = "sys/bus/usb-serial/drivers/ftdi_sio";
    const bool made =
        MakeDirectories(tree, usbDevice, error) &&
        (!hasSerial || WriteAttribute(tree, usbDevice + "/serial", serial, error)) &&
        WriteAttribute(tree, usbDevice + "/idVendor", "0403", error) &&
        WriteAttribute(tree, usbDevice + "/idProduct", "6001", error) &&
        WriteAttribute(tree, usbDevice + "/manufacturer", "FTDI", error) &&
        WriteAttribute(tree, usbDevice + "/product", "FT232R USB UART", error) &&
        MakeDirectories(tree, driver, error) && MakeDirectories(tree, classDevice, error) &&
        MakeSymlink(tree, port + "/driver", UpFrom(port.substr(4)) + driver.substr(4), error) &&
        MakeSymlink(tree, classDevice + "/device", "../../../" + name, error) &&
        MakeSymlink(tree, "sys/class/tty/" + name, "../../" + classDevice.substr(4), error);
    return made && MakeSymlink(tree, "dev/" + name, node, error);
}

bool AddOtherTtys(FakeTree& tree, std::string& error) {
    const std::string uart = "sys/devices/platform/serial8250";
    const std::string uartTty = uart + "/tty/ttyS0";
    const std::string uartDriver = "sys/bus/platform/drivers/serial8250";
    const std::string console = "sys/devices/virtual/tty/tty0";
    return MakeDirectories(tree, uartTty, error) && MakeDirectories(tree, uartDriver, error) &&
           MakeSymlink(tree, uart + "/driver", UpFrom(uart.substr(4)) + uartDriver.substr(4),
                       error) &&
           MakeSymlink(tree, uartTty + "/device", "../../../serial8250", error) &&
           MakeSymlink(tree, "sys/class/tty/ttyS0", "../../" + uartTty.substr(4), error) &&
           MakeDirectories(tree, console, error) &&
           MakeSymlink(tree, "sys/class/tty/tty0", "../../" + console.substr(4), error);
}

std::string DevLinkOf(const FakeTree& tree, const std::string& name) {
    return Full(tree, "dev/" + name);
}

std::string ClassEntryOf(const FakeTree& tree, const std::string& name) {
    return Full(tree, "sys/class/tty/" + name);
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

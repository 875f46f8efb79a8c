#include "linux/sysfs_tty_ports.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr char FTDI_DRIVER_NAME[] = "ftdi_sio";

std::string RootFromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? std::string(value) : std::string(fallback);
}

// The first line of a one-line sysfs attribute, without its line end; empty when unreadable.
std::string AttributeText(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return {};
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

// The name of the driver a device is bound to: the last component of its `driver` link.
std::string DriverName(const fs::path& device) {
    std::error_code error;
    const fs::path target = fs::read_symlink(device / "driver", error);
    if (error) {
        return {};
    }
    fs::path name = target.filename();
    if (name.empty()) {
        name = target.parent_path().filename();  // a link written with a trailing slash
    }
    return name.string();
}

// Compares two runs of digits by their value; leading zeros do not count.
int CompareNumbers(std::string_view a, std::string_view b) {
    const auto significant = [](std::string_view digits) {
        const auto first = digits.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view() : digits.substr(first);
    };
    const std::string_view x = significant(a);
    const std::string_view y = significant(b);
    if (x.size() != y.size()) {
        return x.size() < y.size() ? -1 : 1;
    }
    const int order = x.compare(y);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::size_t DigitRunEnd(std::string_view text, std::size_t from) {
    while (from < text.size() && std::isdigit(static_cast<unsigned char>(text[from])) != 0) {
        ++from;
    }
    return from;
}

int CompareNaturally(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool aDigit = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool bDigit = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (aDigit && bDigit) {
            const std::size_t aEnd = DigitRunEnd(a, i);
            const std::size_t bEnd = DigitRunEnd(b, j);
            const int order = CompareNumbers(a.substr(i, aEnd - i), b.substr(j, bEnd - j));
            if (order != 0) {
                return order;
            }
            i = aEnd;
            j = bEnd;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i == a.size() && j == b.size()) {
        return 0;
    }
    return i == a.size() ? -1 : 1;
}

// The port behind one entry of /sys/class/tty, when the FTDI driver serves it.
std::optional<TtyPort> FtdiPortOf(const fs::path& classEntry, const std::string& devRoot) {
    std::error_code error;
    // The usb-serial port; virtual terminals and the like have no device at all.
    const fs::path port = fs::canonical(classEntry / "device", error);
    if (error || DriverName(port) != FTDI_DRIVER_NAME) {
        return std::nullopt;
    }
    // port -> USB interface -> USB device, which carries the serial number.
    const fs::path usbDevice = port.parent_path().parent_path();
    TtyPort found;
    found.name = classEntry.filename().string();
    found.node = devRoot + "/" + found.name;
    found.serial = AttributeText(usbDevice / "serial");
    return found;
}

}  // namespace

bool TtyNameLess(std::string_view a, std::string_view b) {
    const int order = CompareNaturally(a, b);
    // Names equal but for leading zeros still need an order of their own.
    return order != 0 ? order < 0 : a < b;
}

std::vector<TtyPort> ScanFtdiTtyPorts() {
    const fs::path sysfsRoot = RootFromEnvironment(SYSFS_ROOT_VARIABLE, "/sys");
    const std::string devRoot = RootFromEnvironment(DEV_ROOT_VARIABLE, "/dev");
    std::vector<TtyPort> ports;
    std::error_code error;
    // Stepped with an error code rather than by a range loop, which would throw.
    for (fs::directory_iterator entry(sysfsRoot / "class" / "tty", error);
         !error && entry != fs::directory_iterator(); entry.increment(error)) {
        if (std::optional<TtyPort> port = FtdiPortOf(entry->path(), devRoot)) {
            ports.push_back(std::move(*port));
        }
    }
    // The directory's own order is arbitrary; by name, naturally, the list reads as the kernel
    // numbered the ports.
    std::sort(ports.begin(), ports.end(),
              [](const TtyPort& a, const TtyPort& b) { return TtyNameLess(a.name, b.name); });
    return ports;
}

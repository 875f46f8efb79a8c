// The firmware file on Linux. The command line always names the folder, so the executable's own
// path is never asked for.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "cli/text_encoding.h"
#include "update/firmware_file.h"

namespace {

int DescriptorOf(FirmwareFile file) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(file)) - 1;
}

}  // namespace

bool GetExecutablePath(std::u16string&) {
    return false;
}

FirmwareFile OpenFirmwareFile(const std::u16string& path) {
    const int fd = ::open(Utf8FromUtf16(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return nullptr;
    }
    // A fifo or a device by that name could keep the read waiting forever; a directory opens
    // and then fails its read, as an unreadable file does.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))) {
        ::close(fd);
        return nullptr;
    }
    // Offset by one, so that descriptor 0 is not taken for "no file".
    return reinterpret_cast<FirmwareFile>(static_cast<std::intptr_t>(fd) + 1);
}

bool GetFirmwareFileSize(FirmwareFile file, std::uint64_t& size) {
    struct stat status {};
    if (::fstat(DescriptorOf(file), &status) != 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool ReadFirmwareFile(FirmwareFile file, std::uint8_t* destination, std::uint32_t count,
                      std::uint32_t& delivered) {
    delivered = 0;
    while (delivered < count) {
        const ssize_t got = ::read(DescriptorOf(file), destination + delivered, count - delivered);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        delivered += static_cast<std::uint32_t>(got);
    }
    return true;
}

void CloseFirmwareFile(FirmwareFile file) {
    ::close(DescriptorOf(file));
}

#include "tests/support/memory_firmware_folder.h"

#include <algorithm>
#include <cstring>

namespace {
MemoryFolder folder;

struct OpenMemoryFile {
    const MemoryFile* file;
};
}  // namespace

MemoryFolder& TestFolder() {
    return folder;
}

void ResetTestFolder() {
    folder = MemoryFolder{};
}

std::u16string BesideExecutable(std::u16string_view name) {
    // No backslash: npos + 1 is 0, so no folder, and the bare name.
    const std::size_t slash = folder.executablePath.rfind(u'\\');
    return folder.executablePath.substr(0, slash + 1) + std::u16string(name);
}

void PutFirmwareFile(std::u16string_view name, MemoryFile file) {
    folder.files[BesideExecutable(name)] = std::move(file);
}

void PutFirmwareFile(std::u16string_view name, std::vector<std::uint8_t> bytes) {
    MemoryFile file;
    file.bytes = std::move(bytes);
    PutFirmwareFile(name, std::move(file));
}

bool GetExecutablePath(std::u16string& path) {
    path = folder.executablePath;
    return !path.empty();
}

FirmwareFile OpenFirmwareFile(const std::u16string& path) {
    folder.openedPaths.push_back(path);
    const auto it = folder.files.find(path);
    if (it == folder.files.end() || it->second.openFails) {
        return nullptr;
    }
    ++folder.openCount;
    return new OpenMemoryFile{&it->second};
}

bool GetFirmwareFileSize(FirmwareFile file, std::uint64_t& size) {
    const MemoryFile& f = *static_cast<OpenMemoryFile*>(file)->file;
    size = f.reportedSize.value_or(f.bytes.size());
    return !f.sizeFails;
}

bool ReadFirmwareFile(FirmwareFile file, std::uint8_t* destination, std::uint32_t count,
                      std::uint32_t& delivered) {
    const MemoryFile& f = *static_cast<OpenMemoryFile*>(file)->file;
    delivered = 0;
    if (f.readFails) {
        return false;
    }
    std::uint32_t available =
        static_cast<std::uint32_t>(std::min<std::size_t>(count, f.bytes.size()));
    if (f.deliverOnly) {
        available = std::min(available, *f.deliverOnly);
    }
    if (available > 0) {
        std::memcpy(destination, f.bytes.data(), available);
    }
    delivered = available;
    return true;
}

void CloseFirmwareFile(FirmwareFile file) {
    --folder.openCount;
    delete static_cast<OpenMemoryFile*>(file);
}

// The firmware file seam for native tests: an in-memory folder of files, each of which can be
// made to fail in one of the ways a real file can.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/firmware_file.h"

struct MemoryFile {
    std::vector<std::uint8_t> bytes = {};
    bool openFails = false;
    bool sizeFails = false;
    // A size to report instead of the bytes' count.
    std::optional<std::uint64_t> reportedSize = std::nullopt;
    bool readFails = false;
    // The read delivers only this many bytes.
    std::optional<std::uint32_t> deliverOnly = std::nullopt;
};

struct MemoryFolder {
    // Empty: the executable's path cannot be had.
    std::u16string executablePath = u"C:\\Tools\\VIVAD\\vivad-updater.exe";
    std::map<std::u16string, MemoryFile> files;
    std::vector<std::u16string> openedPaths;
    int openCount = 0;
};

MemoryFolder& TestFolder();
void ResetTestFolder();

// The path of the file `name` beside the executable: the executable's path up to its last
// backslash, then the name; the bare name when the path names no folder.
std::u16string BesideExecutable(std::u16string_view name);

// Puts a file beside the executable.
void PutFirmwareFile(std::u16string_view name, MemoryFile file);
void PutFirmwareFile(std::u16string_view name, std::vector<std::uint8_t> bytes);

// Reading the firmware file beside the executable. The Windows program uses the file system;
// native tests use an in-memory folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Units in the path buffer, terminating zero included.
constexpr std::size_t FIRMWARE_PATH_CAPACITY = 300;

// The executable's full path. False when it cannot be had whole within FIRMWARE_PATH_CAPACITY.
bool GetExecutablePath(std::u16string& path);

using FirmwareFile = void*;

// Opens an existing file for reading, shared with nobody. Null on failure.
FirmwareFile OpenFirmwareFile(const std::u16string& path);
bool GetFirmwareFileSize(FirmwareFile file, std::uint64_t& size);
// One read of `count` bytes from the start; `delivered` is what actually arrived.
bool ReadFirmwareFile(FirmwareFile file, std::uint8_t* destination, std::uint32_t count,
                      std::uint32_t& delivered);
void CloseFirmwareFile(FirmwareFile file);

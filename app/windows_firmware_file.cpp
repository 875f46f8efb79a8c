// The firmware file on Windows: found beside the executable and read in one go.
#include <windows.h>

#include <string>

#include "update/firmware_file.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W functions take UTF-16 code units");

namespace {

HANDLE HandleOf(FirmwareFile file) {
    return static_cast<HANDLE>(file);
}

}  // namespace

bool GetExecutablePath(std::u16string& path) {
    wchar_t buffer[FIRMWARE_PATH_CAPACITY];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, FIRMWARE_PATH_CAPACITY);
    // A path that fills the buffer has been cut short.
    if (length == 0 || length >= FIRMWARE_PATH_CAPACITY) {
        return false;
    }
    path.assign(buffer, buffer + length);
    return true;
}

FirmwareFile OpenFirmwareFile(const std::u16string& path) {
    const std::wstring name(path.begin(), path.end());
    // Shared with nobody, so the file cannot change while it is read.
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

bool GetFirmwareFileSize(FirmwareFile file, std::uint64_t& size) {
    // The high part is asked for so that a file of 4 GiB or more shows its true size and is
    // refused, instead of passing as its low 32 bits.
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(HandleOf(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        return false;
    }
    size = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
}

bool ReadFirmwareFile(FirmwareFile file, std::uint8_t* destination, std::uint32_t count,
                      std::uint32_t& delivered) {
    DWORD read = 0;
    const BOOL ok = ReadFile(HandleOf(file), destination, count, &read, nullptr);
    delivered = read;
    return ok != FALSE;
}

void CloseFirmwareFile(FirmwareFile file) {
    CloseHandle(HandleOf(file));
}

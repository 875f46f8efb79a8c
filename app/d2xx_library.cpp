// The device library on Windows: FTD2XX.dll, loaded on first use from the program's own folder
// or the system folder only, never from the current directory: a DLL is code run inside the
// updater, and the current directory may be any folder, a download folder with a planted copy
// among them. (ReadMe.txt is read from there; a text file can only change the banner's line.)
// Without the DLL, or without one of its functions, every call fails as if no device were
// attached, so the user is told that no tester was found instead of the program failing to start.
#include <windows.h>

#include <string>

#include "link/d2xx.h"

namespace {

using ListDevicesFn = FT_STATUS(FT_CALL*)(void*, void*, std::uint32_t);
using OpenExFn = FT_STATUS(FT_CALL*)(void*, std::uint32_t, FT_HANDLE*);
using CloseFn = FT_STATUS(FT_CALL*)(FT_HANDLE);
using SetBaudRateFn = FT_STATUS(FT_CALL*)(FT_HANDLE, std::uint32_t);
using SetDataCharacteristicsFn = FT_STATUS(FT_CALL*)(FT_HANDLE, std::uint8_t, std::uint8_t,
                                                     std::uint8_t);
using SetTimeoutsFn = FT_STATUS(FT_CALL*)(FT_HANDLE, std::uint32_t, std::uint32_t);
using ReadFn = FT_STATUS(FT_CALL*)(FT_HANDLE, void*, std::uint32_t, std::uint32_t*);
using WriteFn = FT_STATUS(FT_CALL*)(FT_HANDLE, void*, std::uint32_t, std::uint32_t*);

struct DeviceLibrary {
    ListDevicesFn listDevices = nullptr;
    OpenExFn openEx = nullptr;
    CloseFn close = nullptr;
    SetBaudRateFn setBaudRate = nullptr;
    SetDataCharacteristicsFn setDataCharacteristics = nullptr;
    SetTimeoutsFn setTimeouts = nullptr;
    ReadFn read = nullptr;
    WriteFn write = nullptr;
};

constexpr wchar_t DLL_NAME[] = L"FTD2XX.dll";

// The folder part of a full path, backslash included; empty when there is none.
std::wstring FolderOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return FolderOf(path);
        }
        path.resize(path.size() * 2);
    }
}

std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return std::wstring(folder, length) + L"\\";
}

// Full paths only: a bare name would let the loader search the current directory.
HMODULE LoadFromTrustedFolders() {
    for (const std::wstring& folder : {ProgramFolder(), SystemFolder()}) {
        if (folder.empty()) {
            continue;
        }
        const std::wstring path = folder + DLL_NAME;
        if (HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
            return module;
        }
    }
    return nullptr;
}

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& function) {
    function = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

DeviceLibrary Load() {
    DeviceLibrary library;
    const HMODULE module = LoadFromTrustedFolders();
    if (module == nullptr) {
        return library;
    }
    const bool complete =
        Resolve(module, "FT_ListDevices", library.listDevices) &&
        Resolve(module, "FT_OpenEx", library.openEx) &&
        Resolve(module, "FT_Close", library.close) &&
        Resolve(module, "FT_SetBaudRate", library.setBaudRate) &&
        Resolve(module, "FT_SetDataCharacteristics", library.setDataCharacteristics) &&
        Resolve(module, "FT_SetTimeouts", library.setTimeouts) &&
        Resolve(module, "FT_Read", library.read) && Resolve(module, "FT_Write", library.write);
    // A library missing any function is treated as no library at all.
    return complete ? library : DeviceLibrary{};
}

const DeviceLibrary& Library() {
    static const DeviceLibrary library = Load();
    return library;
}

}  // namespace

extern "C" {

FT_STATUS FT_CALL FT_ListDevices(void* pvArg1, void* pvArg2, std::uint32_t dwFlags) {
    const auto fn = Library().listDevices;
    return fn ? fn(pvArg1, pvArg2, dwFlags) : FT_DEVICE_NOT_FOUND;
}

FT_STATUS FT_CALL FT_OpenEx(void* pvArg1, std::uint32_t dwFlags, FT_HANDLE* pHandle) {
    const auto fn = Library().openEx;
    return fn ? fn(pvArg1, dwFlags, pHandle) : FT_DEVICE_NOT_FOUND;
}

FT_STATUS FT_CALL FT_Close(FT_HANDLE ftHandle) {
    const auto fn = Library().close;
    return fn ? fn(ftHandle) : FT_INVALID_HANDLE;
}

FT_STATUS FT_CALL FT_SetBaudRate(FT_HANDLE ftHandle, std::uint32_t BaudRate) {
    const auto fn = Library().setBaudRate;
    return fn ? fn(ftHandle, BaudRate) : FT_INVALID_HANDLE;
}

FT_STATUS FT_CALL FT_SetDataCharacteristics(FT_HANDLE ftHandle, std::uint8_t WordLength,
                                            std::uint8_t StopBits, std::uint8_t Parity) {
    const auto fn = Library().setDataCharacteristics;
    return fn ? fn(ftHandle, WordLength, StopBits, Parity) : FT_INVALID_HANDLE;
}

FT_STATUS FT_CALL FT_SetTimeouts(FT_HANDLE ftHandle, std::uint32_t ReadTimeout,
                                 std::uint32_t WriteTimeout) {
    const auto fn = Library().setTimeouts;
    return fn ? fn(ftHandle, ReadTimeout, WriteTimeout) : FT_INVALID_HANDLE;
}

FT_STATUS FT_CALL FT_Read(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToRead,
                          std::uint32_t* lpBytesReturned) {
    const auto fn = Library().read;
    if (fn == nullptr && lpBytesReturned != nullptr) {
        *lpBytesReturned = 0;
    }
    return fn ? fn(ftHandle, lpBuffer, dwBytesToRead, lpBytesReturned) : FT_INVALID_HANDLE;
}

FT_STATUS FT_CALL FT_Write(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToWrite,
                           std::uint32_t* lpBytesWritten) {
    const auto fn = Library().write;
    if (fn == nullptr && lpBytesWritten != nullptr) {
        *lpBytesWritten = 0;
    }
    return fn ? fn(ftHandle, lpBuffer, dwBytesToWrite, lpBytesWritten) : FT_INVALID_HANDLE;
}

}  // extern "C"

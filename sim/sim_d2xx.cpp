// The device-library face of the simulated devices: the D2XX calls the updater makes, served
// from the simulated world. Linked into the native tests directly, and exported from the
// simulated FTD2XX.dll for the Windows program.
#include <algorithm>
#include <cstring>

#include "link/d2xx.h"
#include "sim/sim_clock.h"
#include "sim/sim_world_state.h"

namespace {
// The size of the buffer a by-index serial-number query writes to, terminator included.
constexpr std::size_t SERIAL_COPY_LIMIT = 64;
}  // namespace

extern "C" {

FT_STATUS FT_CALL FT_ListDevices(void* pvArg1, void* pvArg2, std::uint32_t dwFlags) {
    std::lock_guard<std::mutex> lock(worldMutex);
    SimCall call{"FT_ListDevices", nullptr, dwFlags, {}, FT_OK, 0};
    const std::vector<SimDevice>& devices = world.scenario.devices;
    if (dwFlags == FT_LIST_NUMBER_ONLY) {
        if (world.scenario.countQueryFails || pvArg1 == nullptr) {
            return Logged(call, FT_IO_ERROR);
        }
        *static_cast<std::uint32_t*>(pvArg1) = static_cast<std::uint32_t>(devices.size());
        return Logged(call, FT_OK);
    }
    if (dwFlags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
        const auto index = reinterpret_cast<std::uintptr_t>(pvArg1);
        call.argument = index;
        if (index >= devices.size() || pvArg2 == nullptr) {
            return Logged(call, FT_DEVICE_NOT_FOUND);
        }
        if (devices[index].serialQueryFails) {
            return Logged(call, FT_IO_ERROR);
        }
        const SimDevice& device = devices[index];
        const std::string& serial = device.serial;
        const std::size_t length = std::min(
            serial.size(), device.serialUnterminated ? SERIAL_COPY_LIMIT : SERIAL_COPY_LIMIT - 1);
        std::memcpy(pvArg2, serial.data(), length);
        if (!device.serialUnterminated) {
            static_cast<char*>(pvArg2)[length] = '\0';
        }
        call.bytes.assign(serial.begin(), serial.begin() + static_cast<std::ptrdiff_t>(length));
        return Logged(call, FT_OK);
    }
    return Logged(call, FT_INVALID_PARAMETER);
}

FT_STATUS FT_CALL FT_OpenEx(void* pvArg1, std::uint32_t dwFlags, FT_HANDLE* pHandle) {
    std::lock_guard<std::mutex> lock(worldMutex);
    SimCall call{"FT_OpenEx", nullptr, dwFlags, {}, FT_OK, 0};
    if (pvArg1 == nullptr || pHandle == nullptr || dwFlags != FT_OPEN_BY_SERIAL_NUMBER) {
        return Logged(call, FT_INVALID_PARAMETER);
    }
    const std::string serial(static_cast<const char*>(pvArg1));
    call.bytes.assign(serial.begin(), serial.end());
    const std::vector<SimDevice>& devices = world.scenario.devices;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].serial != serial) {
            continue;
        }
        if (devices[i].openFails || DeviceIsOpen(i)) {
            return Logged(call, FT_DEVICE_NOT_OPENED);
        }
        SimHandle& handle = world.handles.emplace_back();
        handle.device = i;
        PurgeLine(world.line);
        *pHandle = &handle;
        call.handle = &handle;
        return Logged(call, FT_OK);
    }
    return Logged(call, FT_DEVICE_NOT_FOUND);
}

FT_STATUS FT_CALL FT_Close(FT_HANDLE ftHandle) {
    std::lock_guard<std::mutex> lock(worldMutex);
    SimCall call{"FT_Close", ftHandle, 0, {}, FT_OK, 0};
    SimHandle* h = OpenHandle(ftHandle);
    if (h == nullptr) {
        return Logged(call, FT_INVALID_HANDLE);
    }
    h->open = false;
    return Logged(call, FT_OK);
}

FT_STATUS FT_CALL FT_SetBaudRate(FT_HANDLE ftHandle, std::uint32_t BaudRate) {
    std::lock_guard<std::mutex> lock(worldMutex);
    SimCall call{"FT_SetBaudRate", ftHandle, BaudRate, {}, FT_OK, 0};
    SimHandle* h = OpenHandle(ftHandle);
    if (h == nullptr) {
        return Logged(call, FT_INVALID_HANDLE);
    }
    h->baudRate = BaudRate;
    return Logged(call, FT_OK);
}

FT_STATUS FT_CALL FT_SetDataCharacteristics(FT_HANDLE ftHandle, std::uint8_t WordLength,
                                            std::uint8_t StopBits, std::uint8_t Parity) {
    std::lock_guard<std::mutex> lock(worldMutex);
    SimCall call{"FT_SetDataCharacteristics",
                 ftHandle,
                 static_cast<std::uint64_t>(WordLength << 16 | StopBits << 8 | Parity),
                 {},
                 FT_OK,
                 0};
    SimHandle* h = OpenHandle(ftHandle);
    if (h == nullptr) {
        return Logged(call, FT_INVALID_HANDLE);
    }
    h->wordLength = WordLength;
    h->stopBits = StopBits;
    h->parity = Parity;
    return Logged(call, FT_OK);
}

FT_STATUS FT_CALL FT_SetTimeouts(FT_HANDLE ftHandle, std::uint32_t ReadTimeout,
                                 std::uint32_t WriteTimeout) {
    std::lock_guard<std::mutex> lock(worldMutex);
    SimCall call{"FT_SetTimeouts", ftHandle, ReadTimeout, {}, FT_OK, 0};
    (void)WriteTimeout;
    SimHandle* h = OpenHandle(ftHandle);
    if (h == nullptr) {
        return Logged(call, FT_INVALID_HANDLE);
    }
    h->readTimeoutMs = ReadTimeout;
    return Logged(call, FT_OK);
}

FT_STATUS FT_CALL FT_Read(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToRead,
                          std::uint32_t* lpBytesReturned) {
    std::lock_guard<std::mutex> lock(worldMutex);
    SimCall call{"FT_Read", ftHandle, dwBytesToRead, {}, FT_OK, 0};
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = 0;
    }
    SimHandle* h = OpenHandle(ftHandle);
    if (h == nullptr || lpBuffer == nullptr || lpBytesReturned == nullptr) {
        return Logged(call, h == nullptr ? FT_INVALID_HANDLE : FT_INVALID_PARAMETER);
    }
    bool connected = true;
    auto* destination = static_cast<std::uint8_t*>(lpBuffer);
    const std::uint32_t count =
        ReadLine(world.line, destination, dwBytesToRead, h->readTimeoutMs, connected);
    *lpBytesReturned = count;
    call.bytes.assign(destination, destination + count);
    return Logged(call, connected ? FT_OK : FT_IO_ERROR);
}

FT_STATUS FT_CALL FT_Write(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToWrite,
                           std::uint32_t* lpBytesWritten) {
    std::lock_guard<std::mutex> lock(worldMutex);
    SimCall call{"FT_Write", ftHandle, dwBytesToWrite, {}, FT_OK, 0};
    if (lpBytesWritten != nullptr) {
        *lpBytesWritten = 0;
    }
    SimHandle* h = OpenHandle(ftHandle);
    if (h == nullptr || lpBuffer == nullptr) {
        return Logged(call, h == nullptr ? FT_INVALID_HANDLE : FT_INVALID_PARAMETER);
    }
    const auto* bytes = static_cast<const std::uint8_t*>(lpBuffer);
    call.bytes.assign(bytes, bytes + dwBytesToWrite);
    WriteLine(world.line, TesterBehind(*h), bytes, dwBytesToWrite, SimNow());
    if (lpBytesWritten != nullptr) {
        *lpBytesWritten = dwBytesToWrite;
    }
    return Logged(call, world.line.unplugged ? FT_IO_ERROR : FT_OK);
}

}  // extern "C"

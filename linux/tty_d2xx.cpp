// The device library on Linux: the D2XX calls the updater makes, served by the ttys of the
// kernel's FTDI driver (ftdi_sio), so that nothing beyond the program needs installing.
#include "linux/tty_d2xx.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <vector>

#include "link/d2xx.h"
#include "link/tester_discovery.h"
#include "linux/sysfs_tty_ports.h"
#include "linux/tty_port_io.h"

namespace {

// The longest serial number copied, NUL included: the updater's buffer, like FTDI's own
// example, holds 64 bytes.
constexpr std::size_t SERIAL_COPY_LIMIT = 64;
static_assert(SERIAL_COPY_LIMIT <= SERIAL_NUMBER_BUFFER_SIZE);

// Until FT_SetTimeouts says otherwise; finite, so that a caller that never sets them still
// cannot wait for ever.
constexpr std::uint32_t DEFAULT_TIMEOUT_MS = 5000;

struct TtyHandle {
    int fd = -1;
    std::uint32_t readTimeoutMs = DEFAULT_TIMEOUT_MS;
    std::uint32_t writeTimeoutMs = DEFAULT_TIMEOUT_MS;
};

struct OpenOutcome {
    TtyOpenFailure failure = TtyOpenFailure::None;
    int error = 0;
    std::string node;
};

// The updater calls the library from one thread at a time, so its state goes without a lock.

// The devices as the last count query found them; the by-index queries read from here.
std::vector<TtyPort> listedPorts;
std::set<TtyHandle*> openHandles;
OpenOutcome lastOpen;

TtyHandle* OpenHandle(FT_HANDLE handle) {
    const auto found = openHandles.find(static_cast<TtyHandle*>(handle));
    return found == openHandles.end() ? nullptr : *found;
}

TtyOpenFailure FailureOfErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return TtyOpenFailure::NotFound;
        case EBUSY:
        case EWOULDBLOCK:
            return TtyOpenFailure::InUse;
        case EACCES:
        case EPERM:
            return TtyOpenFailure::NoPermission;
        default:
            return TtyOpenFailure::Other;
    }
}

FT_STATUS FailedOpen(TtyOpenFailure failure, int error, std::string node) {
    lastOpen = OpenOutcome{failure, error, std::move(node)};
    return failure == TtyOpenFailure::NotFound ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED;
}

}  // namespace

TtyOpenFailure LastTtyOpenFailure() {
    return lastOpen.failure;
}

int LastTtyOpenErrno() {
    return lastOpen.error;
}

std::string LastTtyOpenNode() {
    return lastOpen.node;
}

std::string TtyNodeOfDevice(std::uint32_t index) {
    return index < listedPorts.size() ? listedPorts[index].node : std::string();
}

extern "C" {

FT_STATUS FT_CALL FT_ListDevices(void* pvArg1, void* pvArg2, std::uint32_t dwFlags) {
    if (dwFlags == FT_LIST_NUMBER_ONLY) {
        if (pvArg1 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        listedPorts = ScanFtdiTtyPorts();
        *static_cast<std::uint32_t*>(pvArg1) = static_cast<std::uint32_t>(listedPorts.size());
        return FT_OK;
    }
    if (dwFlags == (FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER)) {
        const auto index = reinterpret_cast<std::uintptr_t>(pvArg1);
        if (pvArg2 == nullptr) {
            return FT_INVALID_PARAMETER;
        }
        if (index >= listedPorts.size()) {
            return FT_DEVICE_NOT_FOUND;
        }
        const std::string& serial = listedPorts[index].serial;
        const std::size_t length = std::min(serial.size(), SERIAL_COPY_LIMIT - 1);
        std::memcpy(pvArg2, serial.data(), length);
        static_cast<char*>(pvArg2)[length] = '\0';
        return FT_OK;
    }
    return FT_INVALID_PARAMETER;
}

FT_STATUS FT_CALL FT_OpenEx(void* pvArg1, std::uint32_t dwFlags, FT_HANDLE* pHandle) {
    if (pvArg1 == nullptr || pHandle == nullptr || dwFlags != FT_OPEN_BY_SERIAL_NUMBER) {
        FailedOpen(TtyOpenFailure::Other, EINVAL, {});
        return FT_INVALID_PARAMETER;
    }
    const std::string serial(static_cast<const char*>(pvArg1));
    std::string node;
    // Found afresh: the device may have been plugged in or out since it was listed.
    for (const TtyPort& port : ScanFtdiTtyPorts()) {
        if (!serial.empty() && port.serial == serial) {
            node = port.node;
            break;
        }
    }
    if (node.empty()) {
        return FailedOpen(TtyOpenFailure::NotFound, 0, {});
    }
    int error = 0;
    const int fd = OpenExclusiveTty(node, error);
    if (fd < 0) {
        return FailedOpen(FailureOfErrno(error), error, node);
    }
    // The speed stays as found, as a freshly opened chip's does: FT_SetBaudRate sets it.
    if (!ConfigureRawLink(fd, error)) {
        CloseTty(fd);
        return FailedOpen(TtyOpenFailure::Other, error, node);
    }
    auto* handle = new TtyHandle;
    handle->fd = fd;
    openHandles.insert(handle);
    lastOpen = OpenOutcome{TtyOpenFailure::None, 0, node};
    *pHandle = handle;
    return FT_OK;
}

FT_STATUS FT_CALL FT_Close(FT_HANDLE ftHandle) {
    const auto found = openHandles.find(static_cast<TtyHandle*>(ftHandle));
    if (found == openHandles.end()) {
        return FT_INVALID_HANDLE;
    }
    TtyHandle* handle = *found;
    openHandles.erase(found);
    CloseTty(handle->fd);
    delete handle;
    return FT_OK;
}

FT_STATUS FT_CALL FT_SetBaudRate(FT_HANDLE ftHandle, std::uint32_t BaudRate) {
    TtyHandle* handle = OpenHandle(ftHandle);
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    const std::optional<speed_t> speed = SpeedOfBaudRate(BaudRate);
    if (!speed) {
        return FT_INVALID_PARAMETER;
    }
    return SetTtySpeed(handle->fd, *speed) ? FT_OK : FT_IO_ERROR;
}

FT_STATUS FT_CALL FT_SetDataCharacteristics(FT_HANDLE ftHandle, std::uint8_t WordLength,
                                            std::uint8_t StopBits, std::uint8_t Parity) {
    TtyHandle* handle = OpenHandle(ftHandle);
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    const bool wordLengthKnown = WordLength == FT_BITS_8 || WordLength == FT_BITS_7;
    const bool stopBitsKnown = StopBits == FT_STOP_BITS_1 || StopBits == FT_STOP_BITS_2;
    const bool parityKnown =
        Parity == FT_PARITY_NONE || Parity == FT_PARITY_ODD || Parity == FT_PARITY_EVEN;
    if (!wordLengthKnown || !stopBitsKnown || !parityKnown) {
        return FT_INVALID_PARAMETER;
    }
    const TtyParity parity = Parity == FT_PARITY_ODD    ? TtyParity::Odd
                             : Parity == FT_PARITY_EVEN ? TtyParity::Even
                                                        : TtyParity::None;
    return SetTtyFraming(handle->fd, WordLength, StopBits == FT_STOP_BITS_2, parity) ? FT_OK
                                                                                     : FT_IO_ERROR;
}

FT_STATUS FT_CALL FT_SetTimeouts(FT_HANDLE ftHandle, std::uint32_t ReadTimeout,
                                 std::uint32_t WriteTimeout) {
    TtyHandle* handle = OpenHandle(ftHandle);
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    handle->readTimeoutMs = ReadTimeout;
    handle->writeTimeoutMs = WriteTimeout;
    return FT_OK;
}

FT_STATUS FT_CALL FT_Read(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToRead,
                          std::uint32_t* lpBytesReturned) {
    if (lpBytesReturned != nullptr) {
        *lpBytesReturned = 0;
    }
    TtyHandle* handle = OpenHandle(ftHandle);
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (lpBuffer == nullptr || lpBytesReturned == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    const TtyTransfer read = ReadTty(handle->fd, static_cast<std::uint8_t*>(lpBuffer),
                                     dwBytesToRead, handle->readTimeoutMs);
    *lpBytesReturned = read.count;
    return read.failed ? FT_IO_ERROR : FT_OK;
}

FT_STATUS FT_CALL FT_Write(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToWrite,
                           std::uint32_t* lpBytesWritten) {
    if (lpBytesWritten != nullptr) {
        *lpBytesWritten = 0;
    }
    TtyHandle* handle = OpenHandle(ftHandle);
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (lpBuffer == nullptr && dwBytesToWrite > 0) {
        return FT_INVALID_PARAMETER;
    }
    const TtyTransfer written = WriteTty(handle->fd, static_cast<const std::uint8_t*>(lpBuffer),
                                         dwBytesToWrite, handle->writeTimeoutMs);
    if (lpBytesWritten != nullptr) {
        *lpBytesWritten = written.count;
    }
    return written.failed ? FT_IO_ERROR : FT_OK;
}

}  // extern "C"

#include "link/tester_discovery.h"

#include <cstdint>
#include <cstring>

#include "link/d2xx.h"
#include "link/tester_link.h"

FT_HANDLE TesterLink = nullptr;

namespace {

bool IsTesterSerial(const char* serial) {
    return std::strncmp(serial, TESTER_SERIAL_PREFIX, TESTER_SERIAL_PREFIX_LENGTH) == 0;
}

}  // namespace

TesterSearchResult FindAndOpenTester() {
    if (TesterLink != nullptr) {
        FT_Close(TesterLink);
        TesterLink = nullptr;
    }

    // The statuses of the close above, of the queries and of the link set-up are not examined.
    // A count query that fails leaves the count at 0, so no tester; a by-index query that fails
    // leaves its cleared buffer, which names no tester. A set-up call that fails is noticed only
    // through the replies that then do not come, and is handled as a silent line is.
    std::uint32_t deviceCount = 0;
    FT_ListDevices(&deviceCount, nullptr, FT_LIST_NUMBER_ONLY);
    if (deviceCount == 0) {
        return TesterSearchResult::NoTester;
    }

    char serial[SERIAL_NUMBER_BUFFER_SIZE];
    char testerSerial[SERIAL_NUMBER_BUFFER_SIZE] = {};
    std::uint32_t testerCount = 0;
    for (std::uint32_t index = 0; index < deviceCount; ++index) {
        // Cleared before every query, so that a query that fails reads as no serial number
        // rather than as the previous device's once more.
        std::memset(serial, 0, sizeof serial);
        FT_ListDevices(reinterpret_cast<void*>(static_cast<std::uintptr_t>(index)), serial,
                       FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
        serial[sizeof serial - 1] = '\0';
        if (IsTesterSerial(serial)) {
            ++testerCount;
            std::memcpy(testerSerial, serial, sizeof serial);
        }
    }
    if (testerCount == 0) {
        return TesterSearchResult::NoTester;
    }
    if (testerCount > 1) {
        return TesterSearchResult::SeveralTesters;
    }

    FT_HANDLE handle = nullptr;
    if (FT_OpenEx(testerSerial, FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK) {
        return TesterSearchResult::OpenFailed;
    }
    TesterLink = handle;
    FT_SetBaudRate(TesterLink, LINK_BAUD_RATE);
    FT_SetDataCharacteristics(TesterLink, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
    FT_SetTimeouts(TesterLink, LINK_TIMEOUT_MS, LINK_TIMEOUT_MS);
    return TesterSearchResult::TesterOpened;
}

#include "link/tester_discovery.h"

#include <cstdint>
#include <cstring>

#include "link/d2xx.h"
#include "link/tester_link.h"

FT_HANDLE TesterLink = nullptr;

bool IsTesterSerial(const char* serial) {
    return std::strncmp(serial, TESTER_SERIAL_PREFIX, TESTER_SERIAL_PREFIX_LENGTH) == 0;
}

// One enumeration of the attached devices, in the library's order. The statuses of the queries
// are not examined: a count query that fails leaves the count at 0, so no tester; a by-index
// query that fails leaves its cleared buffer, which names no tester.
std::vector<AttachedTester> ListAttachedTesters() {
    std::vector<AttachedTester> testers;
    std::uint32_t deviceCount = 0;
    FT_ListDevices(&deviceCount, nullptr, FT_LIST_NUMBER_ONLY);
    char serial[SERIAL_NUMBER_BUFFER_SIZE];
    for (std::uint32_t index = 0; index < deviceCount; ++index) {
        // Cleared before every query, so that a query that fails reads as no serial number
        // rather than as the previous device's once more.
        std::memset(serial, 0, sizeof serial);
        FT_ListDevices(reinterpret_cast<void*>(static_cast<std::uintptr_t>(index)), serial,
                       FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER);
        serial[sizeof serial - 1] = '\0';
        if (IsTesterSerial(serial)) {
            testers.push_back({index, serial});
        }
    }
    return testers;
}

void CloseTesterLink() {
    // Its status is not examined: a link that will not close is given up all the same.
    if (TesterLink != nullptr) {
        FT_Close(TesterLink);
        TesterLink = nullptr;
    }
}

TesterSearchResult FindAndOpenTester() {
    std::string foundSerial;
    return FindAndOpenTester({}, foundSerial);
}

TesterSearchResult FindAndOpenTester(std::string_view wantedSerial, std::string& foundSerial) {
    foundSerial.clear();
    CloseTesterLink();

    std::uint32_t testerCount = 0;
    for (const AttachedTester& tester : ListAttachedTesters()) {
        if (wantedSerial.empty() || tester.serial == wantedSerial) {
            ++testerCount;
            foundSerial = tester.serial;
        }
    }
    if (testerCount == 0) {
        return TesterSearchResult::NoTester;
    }
    if (testerCount > 1) {
        foundSerial.clear();
        return TesterSearchResult::SeveralTesters;
    }

    FT_HANDLE handle = nullptr;
    if (FT_OpenEx(foundSerial.data(), FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK) {
        return TesterSearchResult::OpenFailed;
    }
    TesterLink = handle;
    // The set-up is not checked: a set-up call that fails is noticed only through the replies
    // that then do not come, and is handled as a silent line is.
    FT_SetBaudRate(TesterLink, LINK_BAUD_RATE);
    FT_SetDataCharacteristics(TesterLink, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
    FT_SetTimeouts(TesterLink, LINK_TIMEOUT_MS, LINK_TIMEOUT_MS);
    return TesterSearchResult::TesterOpened;
}

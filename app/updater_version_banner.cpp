#include "app/updater_version_banner.h"

#include <windows.h>

#include "app/version_text.h"
#include "update/run_host.h"

namespace {

// Opened by its bare name, so it is looked for in the current directory, which is the program's
// own folder when it is started from Explorer or a shortcut; a copy beside the program is not read
// when the current directory is elsewhere. Unlike FTD2XX.dll (app/d2xx_library.cpp), which is
// never loaded from there, a file read from there can do no harm: at worst the banner shows
// another number.
constexpr wchar_t README_NAME[] = L"ReadMe.txt";
// Start-up is held up by at most this long when the file is slow to read.
constexpr DWORD READ_WAIT_MS = 3000;

// One overlapped read of the buffer from offset 0. A read still under way after the wait is
// cancelled, and the cancellation awaited, so that nothing completes into the buffer, the
// request or the event after they have gone.
bool ReadAtStart(HANDLE file, HANDLE event, VersionBuffer& buffer) {
    OVERLAPPED request{};
    request.hEvent = event;
    if (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &request)) {
        return true;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    WaitForSingleObject(event, READ_WAIT_MS);
    DWORD transferred = 0;
    if (GetOverlappedResult(file, &request, &transferred, FALSE)) {
        return true;
    }
    if (GetLastError() == ERROR_IO_INCOMPLETE) {
        CancelIoEx(file, &request);
        GetOverlappedResult(file, &request, &transferred, TRUE);
    }
    return false;
}

// The first bytes of ReadMe.txt; false when the file cannot be opened or read.
bool ReadReadMeStart(VersionBuffer& buffer) {
    const HANDLE file =
        CreateFileW(README_NAME, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    bool read = false;
    if (event != nullptr && file != INVALID_HANDLE_VALUE) {
        read = ReadAtStart(file, event, buffer);
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    if (event != nullptr) {
        CloseHandle(event);
    }
    return read;
}

}  // namespace

void ShowUpdaterVersion() {
    VersionBuffer buffer{};
    if (ReadReadMeStart(buffer)) {
        StatusLog(VersionLine(ScanVersionText(buffer)));
        return;
    }
    StatusLog(VERSION_ERROR_LINE);
    StatusLog(VersionLine(UNKNOWN_VERSION));
}

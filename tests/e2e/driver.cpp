// Remote control for the updater in end-to-end tests: starts vivad-updater.exe, then takes one
// command per line on standard input and answers each with one line, "ok <json>" or
// "error <text>". It presses buttons by posting WM_COMMAND (a sent BM_CLICK would block the
// driver behind any modal box the click opens), reads the status list and the message boxes,
// and reports how the updater ended. All waiting and judging is left to the harness.
//
//   e2e-driver.exe <updater.exe> <working folder>
//
// Commands:
//   lines                the status list, as a JSON array of strings (exact UTF-16 code units)
//   click <id>           WM_COMMAND from control <id> of the main window
//   enabled <id>         whether control <id> of the main window is enabled
//   main-enabled         whether the main window itself is enabled (not while a modal box is up)
//   dialogs              every other visible top-level window of the updater: class, caption,
//                        whether the main window owns it, its static texts and its buttons
//   press <hwnd> <id>    WM_COMMAND from control <id> to the dialog <hwnd>
//   escape               the Escape key, pressed and released, to the main window
//   close                WM_CLOSE to the main window, as its close box does
//   sysclose             WM_SYSCOMMAND SC_CLOSE to the main window, as its system menu does
//   taskbar-button       the shell's "TaskbarButtonCreated" message to the main window, which
//                        the shell sends once the window's taskbar button exists
//   state                whether the process runs, whether its main window exists and is
//                        visible, exit code
//   wait-exit <ms>       waits at most <ms> for the process to end and gives its exit code
//   resources            the updater's open kernel handles and private memory in bytes
//   quit                 ends the driver, and the updater with it if it still runs
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "res/resource_ids.h"

namespace {

constexpr UINT MESSAGE_TIMEOUT_MS = 3000;
constexpr DWORD START_TIMEOUT_MS = 30000;
constexpr std::size_t LONGEST_TEXT = 65536;

PROCESS_INFORMATION updater{};
HWND mainWindow = nullptr;

void Reply(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// JSON string of UTF-16 code units: line feeds as \n, everything outside printable ASCII as
// \uXXXX, each code unit on its own, so that the harness sees exactly what the window holds.
std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (const wchar_t unit : text) {
        const auto c = static_cast<unsigned>(static_cast<std::uint16_t>(unit));
        if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonBool(bool value) {
    return value ? "true" : "false";
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// WM_GETTEXT through SendMessageTimeout, marshalled across processes, bounded in time.
std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS,
                             &length) ||
        length > LONGEST_TEXT) {
        return L"";
    }
    std::vector<wchar_t> buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                             MESSAGE_TIMEOUT_MS, &copied)) {
        return L"";
    }
    return std::wstring(buffer.data(), std::min<std::size_t>(copied, length));
}

DWORD UpdaterId() {
    return updater.dwProcessId;
}

bool BelongsToUpdater(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == UpdaterId();
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND window, LPARAM found) -> BOOL {
            if (BelongsToUpdater(window)) {
                reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(
        parent,
        [](HWND window, LPARAM found) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

HWND FindMainWindow() {
    for (HWND window : TopLevelWindows()) {
        if (ClassOf(window) == L"" MAIN_WINDOW_CLASS_NAME && IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

bool Running() {
    return WaitForSingleObject(updater.hProcess, 0) == WAIT_TIMEOUT;
}

std::string ExitCodeJson() {
    DWORD code = 0;
    if (Running() || !GetExitCodeProcess(updater.hProcess, &code)) {
        return "null";
    }
    return std::to_string(code);
}

std::string Lines() {
    const HWND list = GetDlgItem(mainWindow, IDC_STATUS_LIST);
    if (list == nullptr) {
        return "error no status list";
    }
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS,
                             &count)) {
        return "error the status list does not answer";
    }
    std::string out = "ok [";
    for (DWORD_PTR i = 0; i < count; ++i) {
        DWORD_PTR length = 0;
        if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS,
                                 &length) ||
            length == static_cast<DWORD_PTR>(LB_ERR) || length > LONGEST_TEXT) {
            return "error cannot read the length of line " + std::to_string(i);
        }
        std::vector<wchar_t> buffer(length + 1, L'\0');
        DWORD_PTR copied = 0;
        if (!SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer.data()),
                                 SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS, &copied) ||
            copied == static_cast<DWORD_PTR>(LB_ERR)) {
            return "error cannot read line " + std::to_string(i);
        }
        if (i > 0) {
            out += ',';
        }
        out += Json(std::wstring(buffer.data(), std::min(copied, length)));
    }
    return out + "]";
}

std::string Dialogs() {
    std::string out = "ok [";
    bool first = true;
    for (HWND window : TopLevelWindows()) {
        if (window == mainWindow || !IsWindowVisible(window)) {
            continue;
        }
        std::string statics;
        std::string buttons;
        for (HWND child : Children(window)) {
            const std::wstring cls = ClassOf(child);
            const int id = GetDlgCtrlID(child) & 0xFFFF;
            std::string entry =
                "{\"id\":" + std::to_string(id) + ",\"text\":" + Json(TextOf(child));
            if (_wcsicmp(cls.c_str(), L"Static") == 0) {
                statics += (statics.empty() ? "" : ",") + entry + "}";
            } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
                buttons += (buttons.empty() ? "" : ",") + entry +
                           ",\"enabled\":" + JsonBool(IsWindowEnabled(child) != FALSE) + "}";
            }
        }
        const HWND owner = GetWindow(window, GW_OWNER);
        out += (first ? "" : ",");
        out += "{\"hwnd\":" + std::to_string(reinterpret_cast<std::uintptr_t>(window)) +
               ",\"class\":" + Json(ClassOf(window)) + ",\"caption\":" + Json(TextOf(window)) +
               ",\"owned_by_main\":" + JsonBool(owner != nullptr && owner == mainWindow) +
               ",\"statics\":[" + statics + "],\"buttons\":[" + buttons + "]}";
        first = false;
    }
    return out + "]";
}

std::string PostCommand(HWND window, int id) {
    if (!IsWindow(window)) {
        return "error no such window";
    }
    const HWND control = GetDlgItem(window, id);
    if (!PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(control))) {
        return "error cannot post";
    }
    return "ok null";
}

std::string Post(UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageW(mainWindow, message, wParam, lParam) ? "ok null" : "error cannot post";
}

std::string Handle(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "lines") {
        return Lines();
    }
    if (command == "click") {
        int id = 0;
        return words >> id ? PostCommand(mainWindow, id) : "error click <id>";
    }
    if (command == "enabled") {
        int id = 0;
        if (!(words >> id)) {
            return "error enabled <id>";
        }
        const HWND control = GetDlgItem(mainWindow, id);
        return control ? "ok " + JsonBool(IsWindowEnabled(control) != FALSE)
                       : "error no such control";
    }
    if (command == "main-enabled") {
        return IsWindow(mainWindow) ? "ok " + JsonBool(IsWindowEnabled(mainWindow) != FALSE)
                                    : "error no main window";
    }
    if (command == "dialogs") {
        return Dialogs();
    }
    if (command == "press") {
        std::uintptr_t window = 0;
        int id = 0;
        return words >> window >> id ? PostCommand(reinterpret_cast<HWND>(window), id)
                                     : "error press <hwnd> <id>";
    }
    if (command == "escape") {
        const std::string down = Post(WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        return down == "ok null" ? Post(WM_KEYUP, VK_ESCAPE, 0xC0010001) : down;
    }
    if (command == "close") {
        return Post(WM_CLOSE, 0, 0);
    }
    if (command == "sysclose") {
        return Post(WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    if (command == "taskbar-button") {
        // Wine's own desktop never sends it, so the program would never reach the interface.
        const UINT created = RegisterWindowMessageW(L"TaskbarButtonCreated");
        return created != 0 ? Post(created, 0, 0) : "error cannot register the message";
    }
    if (command == "state") {
        return "ok {\"running\":" + JsonBool(Running()) +
               ",\"window\":" + JsonBool(IsWindow(mainWindow) != FALSE) +
               ",\"visible\":" + JsonBool(IsWindowVisible(mainWindow) != FALSE) +
               ",\"exit_code\":" + ExitCodeJson() + "}";
    }
    if (command == "resources") {
        DWORD handles = 0;
        PROCESS_MEMORY_COUNTERS memory{};
        memory.cb = sizeof(memory);
        if (!GetProcessHandleCount(updater.hProcess, &handles) ||
            !GetProcessMemoryInfo(updater.hProcess, &memory, sizeof(memory))) {
            return "error cannot read the updater's resources";
        }
        return "ok {\"handles\":" + std::to_string(handles) +
               ",\"private_bytes\":" + std::to_string(memory.PagefileUsage) + "}";
    }
    if (command == "wait-exit") {
        DWORD ms = 0;
        if (!(words >> ms)) {
            return "error wait-exit <ms>";
        }
        if (WaitForSingleObject(updater.hProcess, ms) != WAIT_OBJECT_0) {
            return "error still running after " + std::to_string(ms) + " ms";
        }
        return "ok " + ExitCodeJson();
    }
    return "error unknown command " + command;
}

bool StartUpdater(const std::wstring& program, const std::wstring& folder) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &updater)) {
        Reply("error cannot start " + std::string(program.begin(), program.end()) + ": " +
              std::to_string(GetLastError()));
        return false;
    }
    WaitForInputIdle(updater.hProcess, START_TIMEOUT_MS);
    const DWORD start = GetTickCount();
    while ((mainWindow = FindMainWindow()) == nullptr) {
        if (!Running()) {
            Reply("error the updater ended before its window appeared, exit code " +
                  ExitCodeJson());
            return false;
        }
        if (GetTickCount() - start > START_TIMEOUT_MS) {
            Reply("error no main window after " + std::to_string(START_TIMEOUT_MS) + " ms");
            return false;
        }
        Sleep(20);
    }
    Reply("ok {\"pid\":" + std::to_string(updater.dwProcessId) +
          ",\"caption\":" + Json(TextOf(mainWindow)) + "}");
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        Reply("error usage: e2e-driver <updater.exe> <working folder>");
        return 2;
    }
    if (!StartUpdater(argv[1], argv[2])) {
        if (updater.hProcess != nullptr && Running()) {
            TerminateProcess(updater.hProcess, 1);
        }
        return 1;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line == "quit") {
            break;
        }
        Reply(Handle(line));
    }
    // Nothing outlives the driver: an updater still running is a test that gave up on it.
    if (Running()) {
        TerminateProcess(updater.hProcess, 1);
        WaitForSingleObject(updater.hProcess, 5000);
    }
    CloseHandle(updater.hThread);
    CloseHandle(updater.hProcess);
    Reply("ok bye");
    return 0;
}

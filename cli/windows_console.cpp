// The standard streams on Windows: a console gets UTF-16 through the console API, so that every
// character shows whatever the console's code page; a redirected stream gets UTF-8.
#include <windows.h>

#include "cli/console.h"
#include "cli/text_encoding.h"

namespace {

HANDLE HandleOf(Stream stream) {
    return GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

void Write(Stream stream, std::string_view utf8) {
    const HANDLE handle = HandleOf(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty()) {
        return;
    }
    if (IsConsole(handle)) {
        const std::u16string text = Utf16FromUtf8(utf8);
        DWORD written = 0;
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    while (!utf8.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) ||
            written == 0) {
            return;
        }
        utf8.remove_prefix(written);
    }
}

bool IsTerminal(Stream stream) {
    return IsConsole(HandleOf(stream));
}

bool StandardInputIsTerminal() {
    return IsConsole(GetStdHandle(STD_INPUT_HANDLE));
}

InputLine ReadInputLine(std::string& line) {
    line.clear();
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::u16string text;
    for (;;) {
        wchar_t unit = 0;
        DWORD read = 0;
        if (!ReadConsoleW(input, &unit, 1, &read, nullptr)) {
            // Cancelled by the Ctrl-C handler.
            return GetLastError() == ERROR_OPERATION_ABORTED ? InputLine::Interrupted
                                                             : InputLine::Ended;
        }
        // What Ctrl-C makes of a console read; its handler runs on a thread of its own, maybe
        // only later.
        if (read == 0) {
            return InputLine::Interrupted;
        }
        if (unit == L'\n') {
            break;
        }
        if (unit != L'\r') {
            text += static_cast<char16_t>(unit);
        }
    }
    line = Utf8FromUtf16(text);
    return InputLine::Read;
}

// UTF-16, the core's text, to and from UTF-8, the terminal's and the files'.
#pragma once

#include <string>
#include <string_view>

// Unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);
// Malformed sequences become U+FFFD.
std::u16string Utf16FromUtf8(std::string_view text);

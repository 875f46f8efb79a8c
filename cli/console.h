// The command line's standard streams. On Windows a console gets UTF-16 through the console
// API and anything redirected gets UTF-8; elsewhere every stream is UTF-8.
#pragma once

#include <string>
#include <string_view>

enum class Stream { Out, Err };

// Written through at once, unbuffered, so that lines show as they are added.
void Write(Stream stream, std::string_view utf8);

bool IsTerminal(Stream stream);
bool StandardInputIsTerminal();

// One line from standard input without its line end; false at end of input or on an error,
// an interrupted read included.
bool ReadInputLine(std::string& line);

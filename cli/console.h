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

enum class InputLine { Read, Ended, Interrupted };

// One line from standard input without its line end. Ended: end of input or an error.
// Interrupted: Ctrl-C came while the line was awaited.
InputLine ReadInputLine(std::string& line);

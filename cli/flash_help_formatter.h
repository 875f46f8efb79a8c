// The layout of vivad-flash --help: each command on one line with its description, its options
// indented below it. help2man reads the manual page out of this text, and reads a command as an
// entry only when its description follows on the same line.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

class FlashHelpFormatter : public CLI::Formatter {
  public:
    std::string make_expanded(const CLI::App* command) const override;
};

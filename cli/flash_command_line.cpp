#include "cli/flash_command_line.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/exit_codes.h"
#include "cli/flash_help_formatter.h"
#include "cli/flash_texts.h"

#ifndef VIVAD_VERSION
#error "VIVAD_VERSION comes from the build: the project's one version number"
#endif

namespace {

std::string ExitCodeTable() {
    std::string table = "\nExit codes:\n";
    for (const ExitCodeEntry& entry : EXIT_CODES) {
        char code[8];
        std::snprintf(code, sizeof code, "%5d", AsInt(entry.code));
        table += std::string("  ") + code + "  " + std::string(entry.meaning) + "\n";
    }
    return table;
}

// The first line of CLI11's message is the one that says what is wrong.
std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// CLI11's own directory check hands the path to the file system as a narrow string, which Windows
// reads in its ANSI code page; the arguments are UTF-8, so the path is made from UTF-8 explicitly.
std::string CheckExistingDirectory(const std::string& utf8) {
    const std::filesystem::path path(std::u8string(utf8.begin(), utf8.end()));
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return {};
    }
    return (std::filesystem::exists(path, error) ? "Directory is actually a file: "
                                                 : "Directory does not exist: ") +
           utf8;
}

}  // namespace

std::string FlashUsage(const std::string& programName) {
    return "Usage:\n"
           "  " +
           programName +
           " list\n"
           "  " +
           programName +
           " info    [--serial SERIAL]\n"
           "  " +
           programName +
           " program [--serial SERIAL] [--firmware-dir DIR] [--revision 1|2]\n"
           "  " +
           std::string(programName.size() + 9, ' ') +
           "[--trace FILE] [--quiet]\n"
           "  " +
           programName + " --help | --version\n";
}

std::optional<int> ParseFlashArguments(const std::vector<std::string>& arguments,
                                       FlashOptions& options, std::string& out, std::string& err) {
    const std::string programName = PROGRAM_NAME;
    CLI::App app(
        "Updates the firmware of a USB Power Delivery tester (serial number ZVKD...)\n"
        "attached through its FTDI USB-to-serial bridge.",
        programName);
    app.set_version_flag("--version", programName + " " VIVAD_VERSION);
    app.require_subcommand(1, 1);
    app.footer(ExitCodeTable());
    // Before the commands are added: each takes its parent's formatter.
    app.formatter(std::make_shared<FlashHelpFormatter>());

    CLI::App* list = app.add_subcommand("list",
                                        "List the attached testers: serial number, tab, "
                                        "where it is.");
    CLI::App* info = app.add_subcommand(
        "info", "Show the tester's serial number, hardware revision and firmware version.");
    CLI::App* program = app.add_subcommand(
        "program", "Write the firmware that fits the tester's hardware revision into it.");

    for (CLI::App* command : {info, program}) {
        command
            ->add_option("--serial", options.serial,
                         "The tester's full serial number, when several are attached")
            ->type_name("SERIAL")
            ->check([](const std::string& value) {
                return value.empty() ? std::string("an empty serial number names no tester")
                                     : std::string();
            });
    }
    program
        ->add_option("--firmware-dir", options.firmwareDirectory,
                     "Where VIVAD-h1.0.bin and VIVAD-h2.0.bin lie (default: the current "
                     "directory on Linux, the program's folder on Windows)")
        ->type_name("DIR")
        ->check(CheckExistingDirectory);
    program
        ->add_option("--revision", options.revision,
                     "The hardware revision on the tester's label, for when the tester cannot "
                     "tell (1 or 2)")
        ->type_name("1|2")
        // Without a description, so that the help shows the metavariable alone.
        ->check(CLI::IsMember({1, 2}).description(""));
    program
        ->add_option("--trace", options.traceFile,
                     "Write every frame and every wait without reply to FILE")
        ->type_name("FILE");
    program->add_flag("--quiet", options.quiet, "Show no progress of the transfer");

    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - 1);
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        // The commands' options too, unless the help was asked of one command.
        const bool ofOneCommand = list->parsed() || info->parsed() || program->parsed();
        out = ofOneCommand ? app.help() : app.help("", CLI::AppFormatMode::All);
        return AsInt(ExitCode::Done);
    } catch (const CLI::CallForAllHelp&) {
        out = app.help("", CLI::AppFormatMode::All);
        return AsInt(ExitCode::Done);
    } catch (const CLI::CallForVersion& e) {
        out = std::string(e.what()) + "\n";
        return AsInt(ExitCode::Done);
    } catch (const CLI::ParseError& e) {
        err = programName + ": " + FirstLine(e.what()) + "\n" + FlashUsage(programName) + "Run '" +
              programName + " --help' for more.\n";
        return AsInt(ExitCode::Usage);
    }
    options.command = list->parsed()   ? FlashCommand::List
                      : info->parsed() ? FlashCommand::Info
                                       : FlashCommand::Program;
    return std::nullopt;
}

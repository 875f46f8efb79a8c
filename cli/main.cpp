// vivad-flash: the command-line updater. Parses the command line and runs one command.
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/flash_command_line.h"
#include "cli/flash_commands.h"

#if defined(_WIN32)
#include "cli/text_encoding.h"
#endif

namespace {

int RunFlash(const std::vector<std::string>& arguments) {
    FlashOptions options;
    std::string out;
    std::string err;
    if (const std::optional<int> done = ParseFlashArguments(arguments, options, out, err)) {
        Write(Stream::Out, out);
        Write(Stream::Err, err);
        return *done;
    }
    switch (options.command) {
        case FlashCommand::List:
            return ListTesters();
        case FlashCommand::Info:
            return ShowTesterInfo(options);
        case FlashCommand::Program:
            return ProgramTester(options);
    }
    return AsInt(ExitCode::Usage);
}

}  // namespace

#if defined(_WIN32)
// The arguments as the system has them, in UTF-16, whatever the console's code page.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const std::wstring_view argument(argv[i]);
        arguments.push_back(Utf8FromUtf16(std::u16string_view(
            reinterpret_cast<const char16_t*>(argument.data()), argument.size())));
    }
    return RunFlash(arguments);
}
#else
int main(int argc, char** argv) {
    return RunFlash(std::vector<std::string>(argv, argv + argc));
}
#endif

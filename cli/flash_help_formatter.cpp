#include "cli/flash_help_formatter.h"

#include <sstream>

std::string FlashHelpFormatter::make_expanded(const CLI::App* command) const {
    std::ostringstream out;
    CLI::detail::format_help(out, command->get_display_name(), command->get_description(),
                             get_column_width());
    const auto ownOptions = [command](const CLI::Option* option) {
        return option->nonpositional() && option != command->get_help_ptr() &&
               option != command->get_help_all_ptr();
    };
    for (const CLI::Option* option : command->get_options(ownOptions)) {
        CLI::detail::format_help(out,
                                 "  " + make_option_name(option, false) + make_option_opts(option),
                                 make_option_desc(option), get_column_width());
    }
    return out.str();
}

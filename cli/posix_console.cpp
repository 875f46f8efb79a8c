// The standard streams on Linux: UTF-8 throughout, written with write(2) so that nothing waits in
// a buffer while the run goes on.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/console.h"

namespace {

int DescriptorOf(Stream stream) {
    return stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO;
}

}  // namespace

void Write(Stream stream, std::string_view utf8) {
    const int fd = DescriptorOf(stream);
    while (!utf8.empty()) {
        const ssize_t written = ::write(fd, utf8.data(), utf8.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        // A closed pipe or a full disk: the run goes on; its exit code still tells the ending.
        if (written <= 0) {
            return;
        }
        utf8.remove_prefix(static_cast<std::size_t>(written));
    }
}

bool IsTerminal(Stream stream) {
    return ::isatty(DescriptorOf(stream)) == 1;
}

bool StandardInputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

InputLine ReadInputLine(std::string& line) {
    line.clear();
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        // Only SIGINT's handler leaves a read without SA_RESTART.
        if (got < 0 && errno == EINTR) {
            return InputLine::Interrupted;
        }
        if (got <= 0) {
            return InputLine::Ended;
        }
        if (c == '\n') {
            return InputLine::Read;
        }
        line += c;
    }
}

// The status line on a terminal: carriage return, the text, erase to the end of the line.
#include "platform/statusline.h"

#include <unistd.h>

namespace platform::statusline {

namespace {

bool open = false;

void Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;  // a console that fails is not worth failing the run for
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

bool Enabled() {
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    return terminal;
}

void Show(const std::string& text) {
    if (!Enabled()) return;
    Write("\r" + text + "\x1b[K");
    open = true;
}

void Finish() {
    if (!Enabled() || !open) return;
    Write("\n");
    open = false;
}

}  // namespace platform::statusline

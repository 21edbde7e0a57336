// The terminal through /dev/tty, so a secret is asked on the terminal even when standard
// input and output are redirected; echo is switched off with termios while it is typed.
#include "platform/console.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace platform::console {

namespace {

// The terminal's settings while a secret is read, put back if a signal ends the process.
int gTerminal = -1;
termios gSaved{};

extern "C" void RestoreAndRaise(int signo) {
    if (gTerminal >= 0) ::tcsetattr(gTerminal, TCSANOW, &gSaved);
    std::signal(signo, SIG_DFL);
    std::raise(signo);
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

std::optional<std::string> ReadSecret(const std::string& prompt) {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    gSaved = saved;
    gTerminal = fd;
    auto* oldInt = std::signal(SIGINT, RestoreAndRaise);
    auto* oldTerm = std::signal(SIGTERM, RestoreAndRaise);
    auto* oldHup = std::signal(SIGHUP, RestoreAndRaise);

    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ICANON;
    WriteAll(fd, prompt);
    ::tcsetattr(fd, TCSAFLUSH, &quiet);

    std::string secret;
    bool ended = false;
    for (char c = 0;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0) break;
        if (c == '\n') {
            ended = true;
            break;
        }
        secret += c;
    }
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    WriteAll(fd, "\n");
    gTerminal = -1;
    std::signal(SIGINT, oldInt);
    std::signal(SIGTERM, oldTerm);
    std::signal(SIGHUP, oldHup);
    ::close(fd);
    if (!secret.empty() && secret.back() == '\r') secret.pop_back();
    // A terminal closed before the line ended gave no answer.
    if (!ended && secret.empty()) return std::nullopt;
    return secret;
}

void Write(Stream stream, const std::string& utf8) {
    std::FILE* file = stream == Stream::Output ? stdout : stderr;
    std::fwrite(utf8.data(), 1, utf8.size(), file);
    std::fflush(file);
}

}  // namespace platform::console

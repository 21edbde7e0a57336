// SIGINT and SIGTERM are the close command; a self-pipe wakes the waiting loop.
#include "platform/eventloop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>

namespace platform::eventloop {

namespace {

volatile std::sig_atomic_t closeRequested = 0;
int wakeRead = -1;
int wakeWrite = -1;

extern "C" void OnCloseSignal(int) {
    const int saved = errno;
    closeRequested = 1;
    if (wakeWrite >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &byte, 1);
    }
    errno = saved;
}

void DrainWakePipe() {
    char buffer[64];
    while (wakeRead >= 0 && ::read(wakeRead, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

void InstallCloseHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            wakeRead = fds[0];
            wakeWrite = fds[1];
        }
        struct sigaction action {};
        action.sa_handler = OnCloseSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    });
}

bool TakeCloseRequest() {
    if (closeRequested == 0) return false;
    closeRequested = 0;
    DrainWakePipe();
    return true;
}

void Wait(int timeoutMs) {
    if (closeRequested != 0) return;
    if (wakeRead < 0) {
        // No close handler installed: a plain sleep.
        if (timeoutMs < 0) timeoutMs = 1000;
        ::poll(nullptr, 0, timeoutMs);
        return;
    }
    pollfd fd{wakeRead, POLLIN, 0};
    ::poll(&fd, 1, timeoutMs);  // EINTR just ends the wait early
}

bool DispatchSystemMessage() {
    return false;
}

std::vector<std::string> CommandLineArguments(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return args;
}

}  // namespace platform::eventloop

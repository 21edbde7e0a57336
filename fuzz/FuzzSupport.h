// What the fuzz targets share: a check that stops the run with a message, and a loopback
// server that answers each connection with the next piece of the fuzz input, so the real
// clients read hostile answers over a real socket, and keeps what the clients send.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace fuzzsupport {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzzsupport::Fail(#condition, __FILE__, __LINE__))

// True when `part` lies inside `whole`; an empty view reads nothing and is always fine.
inline bool Inside(std::string_view part, std::string_view whole) {
    if (part.empty()) return true;
    const auto* begin = whole.data();
    const auto* end = begin + whole.size();
    return part.data() >= begin && part.data() + part.size() <= end;
}

// The answers of successive connections are the pieces of the input between these
// markers.
inline constexpr std::string_view kNextAnswer = "\n~~next~~\n";

inline std::vector<std::string> SplitAnswers(std::string_view input) {
    std::vector<std::string> answers;
    for (;;) {
        const auto at = input.find(kNextAnswer);
        answers.emplace_back(input.substr(0, at));
        if (at == std::string_view::npos) return answers;
        input.remove_prefix(at + kNextAnswer.size());
    }
}

// A server on 127.0.0.1 run by one thread with poll: connection k gets answers[k] (later
// ones get nothing), then the end of the stream; whatever the client sends is read and
// dropped until it closes. One thread serves any number of connections, so a fuzzing run
// of millions of sessions holds no thread or socket per session.
class TAnswerServer {
  public:
    TAnswerServer() {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listen_, 64) != 0) {
            std::perror("answer server");
            std::abort();
        }
        socklen_t length = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) std::abort();
        thread_ = std::thread([this] { Loop(); });
    }
    ~TAnswerServer() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        Wake();
        thread_.join();
        ::close(wake_[0]);
        ::close(wake_[1]);
        for (auto& c : open_) ::close(c.fd);
        ::close(listen_);
    }
    TAnswerServer(const TAnswerServer&) = delete;
    TAnswerServer& operator=(const TAnswerServer&) = delete;

    int Port() const { return port_; }
    std::string Url(std::string_view path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }

    // The answers for the connections of the next session.
    void Serve(std::vector<std::string> answers) {
        std::lock_guard lock(mutex_);
        answers_ = std::move(answers);
        accepted_ = 0;
        received_.clear();
    }
    // After Finish: everything the client sent on the session's connections.
    std::string Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    // After the client has closed its sockets: waits until the server has taken every
    // connection of the session and seen its end. Gives the number of connections.
    int Finish() {
        std::unique_lock lock(mutex_);
        finishing_ = true;
        Wake();
        idle_.wait(lock, [this] { return !finishing_; });
        return accepted_;
    }

  private:
    void Wake() { [[maybe_unused]] const auto n = ::write(wake_[1], "", 1); }

    struct Connection {
        int fd;
        std::string out;
        std::size_t sent = 0;
        bool shut = false;
        std::string in;  // what the client sent
    };

    void Accept() {
        for (;;) {
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) return;
            std::lock_guard lock(mutex_);
            const auto index = static_cast<std::size_t>(accepted_++);
            open_.push_back({fd, index < answers_.size() ? answers_[index] : std::string()});
        }
    }

    // Sends what the socket takes, then ends the stream, and keeps what the client sends;
    // false once the client closed.
    static bool Step(Connection& c, short events) {
        while (c.sent < c.out.size()) {
            const ssize_t n =
                ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            c.sent += static_cast<std::size_t>(n);
        }
        if (c.sent == c.out.size() && !c.shut) {
            ::shutdown(c.fd, SHUT_WR);
            c.shut = true;
        }
        if (events & (POLLIN | POLLHUP | POLLERR)) {
            char drop[65536];
            for (;;) {
                const ssize_t n = ::recv(c.fd, drop, sizeof drop, 0);
                if (n == 0) return false;
                if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
                c.in.append(drop, static_cast<std::size_t>(n));
            }
        }
        return true;
    }

    void Loop() {
        std::vector<pollfd> polled;
        for (;;) {
            polled.assign({pollfd{listen_, POLLIN, 0}, pollfd{wake_[0], POLLIN, 0}});
            for (const auto& c : open_)
                polled.push_back({c.fd, static_cast<short>(c.shut ? POLLIN : POLLIN | POLLOUT), 0});
            ::poll(polled.data(), polled.size(), 1000);
            if (polled[1].revents & POLLIN) {
                char drop[64];
                while (::read(wake_[0], drop, sizeof drop) > 0) {
                }
            }
            if (polled[0].revents & POLLIN) Accept();
            for (std::size_t i = 0; i < open_.size(); ++i) {
                const short events = i + 2 < polled.size() ? polled[i + 2].revents : POLLOUT;
                if (!Step(open_[i], events)) {
                    {
                        std::lock_guard lock(mutex_);
                        received_ += open_[i].in;
                    }
                    ::close(open_[i].fd);
                    open_.erase(open_.begin() + static_cast<std::ptrdiff_t>(i));
                    polled.erase(polled.begin() + static_cast<std::ptrdiff_t>(i) + 2);
                    --i;
                }
            }
            std::lock_guard lock(mutex_);
            if (stop_) return;
            if (finishing_ && open_.empty()) {
                // Nothing is queued either: the client is done, so nothing new can come.
                pollfd p{listen_, POLLIN, 0};
                if (::poll(&p, 1, 0) == 0) {
                    finishing_ = false;
                    idle_.notify_all();
                }
            }
        }
    }

    int listen_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<std::string> answers_;
    std::string received_;
    std::vector<Connection> open_;  // the loop thread's own
    int accepted_ = 0;
    bool finishing_ = false;
    bool stop_ = false;
};

}  // namespace fuzzsupport

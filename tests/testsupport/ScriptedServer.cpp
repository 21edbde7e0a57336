#include "testsupport/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <mutex>
#include <stdexcept>

namespace testsupport {

// The server side of a TLS session on the connection's socket.
struct TlsSession {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    ~TlsSession() {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        if (context) SSL_CTX_free(context);
    }
};

ScriptedConnection::ScriptedConnection(int fd) : fd_(fd) {}

ScriptedConnection::~ScriptedConnection() {
    Close();
}

bool ScriptedConnection::Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t left = bytes.size() - done;
        const ssize_t n = tls_ ? SSL_write(tls_->ssl, bytes.data() + done, static_cast<int>(left))
                               : ::send(fd_, bytes.data() + done, left, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ScriptedConnection::StartTls(const std::string& certFile, const std::string& keyFile,
                                  bool renegotiable) {
    // The TLS library writes to the socket without MSG_NOSIGNAL: a client that went away
    // must not end the test program.
    static std::once_flag ignorePipe;
    std::call_once(ignorePipe, [] { ::signal(SIGPIPE, SIG_IGN); });
    auto session = std::make_unique<TlsSession>();
    session->context = SSL_CTX_new(TLS_server_method());
    if (!session->context ||
        SSL_CTX_use_certificate_chain_file(session->context, certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(session->context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        (renegotiable && SSL_CTX_set_max_proto_version(session->context, TLS1_2_VERSION) != 1))
        return false;
    session->ssl = SSL_new(session->context);
    if (!session->ssl || SSL_set_fd(session->ssl, fd_) != 1 || SSL_accept(session->ssl) != 1)
        return false;
    tls_ = std::move(session);
    return true;
}

bool ScriptedConnection::Renegotiate(const std::string& certFile, const std::string& keyFile,
                                     std::chrono::milliseconds timeout) {
    if (!tls_) return false;
    SSL* ssl = tls_->ssl;
    // A full handshake, so that the client sees the new certificate.
    SSL_set_options(ssl, SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION);
    if (SSL_use_certificate_chain_file(ssl, certFile.c_str()) != 1 ||
        SSL_use_PrivateKey_file(ssl, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_renegotiate(ssl) != 1 || SSL_do_handshake(ssl) != 1)
        return false;
    // The client's new handshake goes through the reads, each of which returns after a
    // handshake record; data that comes with it is kept.
    SSL_clear_mode(ssl, SSL_MODE_AUTO_RETRY);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (SSL_renegotiate_pending(ssl) == 1) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        // A read waits at most until the deadline, also in the middle of the handshake.
        const timeval wait{static_cast<time_t>(left.count() / 1000),
                           static_cast<suseconds_t>(left.count() % 1000 * 1000)};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char chunk[4096];
        const int n = SSL_read(ssl, chunk, sizeof chunk);
        if (n > 0)
            pending_.append(chunk, static_cast<std::size_t>(n));
        else if (SSL_get_error(ssl, n) != SSL_ERROR_WANT_READ)
            break;
    }
    const timeval forever{};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &forever, sizeof forever);
    return SSL_renegotiate_pending(ssl) == 0;
}

bool ScriptedConnection::ReadSome(std::chrono::milliseconds timeout) {
    if (!tls_ || SSL_pending(tls_->ssl) == 0) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    }
    char chunk[65536];
    const ssize_t n =
        tls_ ? SSL_read(tls_->ssl, chunk, sizeof chunk) : ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    pending_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::string ScriptedConnection::Recv(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pending_.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadSome(left)) break;
    }
    const std::string out = pending_.substr(0, count);
    pending_.erase(0, out.size());
    return out;
}

std::string ScriptedConnection::RecvUntil(const std::string& delimiter,
                                          std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t found;
    while ((found = pending_.find(delimiter)) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadSome(left)) {
            std::string out;
            out.swap(pending_);
            return out;
        }
    }
    const std::string out = pending_.substr(0, found + delimiter.size());
    pending_.erase(0, out.size());
    return out;
}

std::string ScriptedConnection::RecvAll(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadSome(left)) break;
    }
    std::string out;
    out.swap(pending_);
    return out;
}

void ScriptedConnection::ShutdownWrite() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

void ScriptedConnection::Reset() {
    if (fd_ < 0) return;
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
}

void ScriptedConnection::Close() {
    tls_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listenFd_, 16) != 0)
        throw std::runtime_error("scripted server: cannot listen");
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    stop_ = true;
    acceptor_.join();
    ::close(listenFd_);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& t : workers_) t.join();
}

std::string ScriptedServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void ScriptedServer::AcceptLoop() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int index = accepted_++;
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back([this, fd, index] {
            ScriptedConnection connection(fd);
            script_(connection, index);
        });
    }
}

}  // namespace testsupport

// A scripted TCP server on 127.0.0.1 for what a real server will not do: hostile or
// old protocol variants, faults, cut connections. Each accepted connection runs the
// script on its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct TlsSession;

class ScriptedConnection {
  public:
    explicit ScriptedConnection(int fd);
    ~ScriptedConnection();
    ScriptedConnection(const ScriptedConnection&) = delete;
    ScriptedConnection& operator=(const ScriptedConnection&) = delete;

    // Sends all bytes; false when the peer is gone.
    bool Send(const std::string& bytes);
    // Receives exactly `count` bytes (fewer only at the end of the stream or time-out).
    std::string Recv(std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Receives until `delimiter` has arrived (included), the stream ends or time runs out.
    std::string RecvUntil(const std::string& delimiter,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Whatever arrives until the peer closes or time runs out.
    std::string RecvAll(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Goes on over TLS as the server of the session, with this certificate and key (PEM
    // files); false when the handshake fails. `renegotiable` holds the session at TLS 1.2,
    // the last version that renegotiates.
    bool StartTls(const std::string& certFile, const std::string& keyFile,
                  bool renegotiable = false);
    // Asks the client for a new handshake, in which the server shows this certificate;
    // true once the client has completed it within `timeout`.
    bool Renegotiate(const std::string& certFile, const std::string& keyFile,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool IsTls() const { return tls_ != nullptr; }
    void ShutdownWrite();
    // Closes with a reset (RST) instead of an orderly close.
    void Reset();
    void Close();

  private:
    // Appends what arrives within `timeout` to pending_; false at the end of the stream.
    bool ReadSome(std::chrono::milliseconds timeout);

    int fd_;
    std::string pending_;
    std::unique_ptr<TlsSession> tls_;
};

class ScriptedServer {
  public:
    using Script = std::function<void(ScriptedConnection&, int connectionIndex)>;
    explicit ScriptedServer(Script script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path = "/") const;
    int connections() const { return accepted_.load(); }

  private:
    void AcceptLoop();

    Script script_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

}  // namespace testsupport

// The operating system's own TLS client over a connected socket, where the platform has
// one (Schannel on Windows: the system's certificate store decides whom to trust, and no
// library has to be shipped). Elsewhere Available() is false and Connect() fails.
//
// The client speaks TLS 1.2 or newer, sends the host as the server name, and accepts the
// server only when its certificate chains to a trusted root and names the host (or its
// IP address). While a session runs the socket is non-blocking and every wait is bounded
// by the time-out given.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/net.h"

namespace platform {

class SecureChannel {
  public:
    SecureChannel();
    ~SecureChannel();
    SecureChannel(const SecureChannel&) = delete;
    SecureChannel& operator=(const SecureChannel&) = delete;

    // True when the system's TLS client can be used here.
    static bool Available();
    // Its name, for the record.
    static std::string Name();

    // The client handshake and the check of the server; false with LastError().
    bool Connect(net::socket_t socket, const std::string& host, int timeoutMs);
    // Sends all `size` bytes; false with LastError().
    bool Send(const void* data, std::size_t size, int timeoutMs);
    // Decrypted application data: the count (> 0), 0 once the server has announced the
    // end (close notify), -1 on failure with LastError(). A connection that ends
    // without the announcement is a failure, so a cut-off body never looks complete.
    long Recv(void* data, std::size_t size, int timeoutMs);
    // Decrypted bytes in hand that Recv returns without reading the socket.
    std::size_t Pending();
    // Sends the close notice of a healthy session (not awaiting the answer) and ends it.
    void Close();

    // The cause of the last failure: a Winsock code when the connection itself failed
    // (time-out, reset), else -1; the text names the cause.
    int LastError() const;
    const std::string& LastErrorText() const;

  private:
    struct Session;
    std::unique_ptr<Session> session_;
};

}  // namespace platform

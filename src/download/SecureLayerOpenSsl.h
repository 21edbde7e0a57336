// The secure-transport layer of the download client over the run-time loaded OpenSSL:
// a TLS 1.2 or newer client that sends the server's name (SNI), verifies the
// certificate chain against the library's default trust store (so SSL_CERT_FILE and
// SSL_CERT_DIR apply) and checks that the certificate names the host or IP address.
// While a session runs the socket is non-blocking and every wait of the layer is
// bounded by Timeout().
#pragma once

#include <string>

#include "download/SecureLayer.h"

namespace tls {
struct Ssl;
struct SslContext;
}  // namespace tls

namespace download {

class TSecureLayerOpenSsl final : public TSecureLayer {
  public:
    TSecureLayerOpenSsl() = default;
    ~TSecureLayerOpenSsl() override;
    TSecureLayerOpenSsl(const TSecureLayerOpenSsl&) = delete;
    TSecureLayerOpenSsl& operator=(const TSecureLayerOpenSsl&) = delete;

    std::string LibName() const override { return "ssl_openssl"; }
    std::string LibVersion() const override;

    bool Connect(platform::net::socket_t socket) override;
    bool Accept(platform::net::socket_t socket) override;
    bool Shutdown() override;
    long SendBuffer(const void* buffer, long len) override;
    long RecvBuffer(void* buffer, long len) override;
    long WaitingData() override;

  private:
    bool Fail(int code, const std::string& text);
    // Records the cause of a failed handshake, read or write (`result` of the call).
    bool FailCall(const char* what, int result);
    // Waits for what the library wants (read or write); false with an error on time-out.
    bool WaitFor(int sslError, const char* what);
    void EndSession();

    tls::SslContext* FContext = nullptr;
    tls::Ssl* FSsl = nullptr;
    platform::net::socket_t FSocket = platform::net::kInvalidSocket;
    // The host the session's certificates must name (the server name is a setting of the
    // request, cleared once it is connected; a renegotiation is checked later).
    std::string FHost;
    // A send or receive failed: the session is unusable and has no orderly end.
    bool FBroken = false;
};

}  // namespace download

// The secure-transport layer of the download client over the operating system's own TLS
// client (platform::SecureChannel: Schannel on Windows), so the system's certificate
// store decides whom to trust. The rules are those of the OpenSSL layer: TLS 1.2 or
// newer, the URL's host as the server name, chain and name verified, every wait bounded
// by Timeout(), the same error conventions.
#pragma once

#include <string>

#include "download/SecureLayer.h"
#include "platform/securechannel.h"

namespace download {

class TSecureLayerSystem final : public TSecureLayer {
  public:
    std::string LibName() const override { return "ssl_system"; }
    std::string LibVersion() const override { return platform::SecureChannel::Name(); }

    bool Connect(platform::net::socket_t socket) override;
    bool Accept(platform::net::socket_t socket) override;
    bool Shutdown() override;
    long SendBuffer(const void* buffer, long len) override;
    long RecvBuffer(void* buffer, long len) override;
    long WaitingData() override;

  private:
    // Takes the channel's last failure; false.
    bool Failed();

    platform::SecureChannel FChannel;
};

}  // namespace download

// The pluggable secure-transport layer of the TCP socket. NewSecureLayer() gives the
// platform's TLS client; TSecureLayerNone, for builds without TLS, fails every
// operation, so an "https" request ends at the handshake with socket error 10091 and
// this layer's text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/net.h"

namespace download {

class TSecureLayer {
  public:
    virtual ~TSecureLayer() = default;

    virtual std::string LibName() const = 0;
    virtual std::string LibVersion() const = 0;
    // True while a secure session runs on the socket.
    bool Connection() const { return FSSLEnabled; }

    // Each returns false (or -1) on failure and leaves LastError/LastErrorDesc.
    virtual bool Connect(platform::net::socket_t socket) = 0;
    virtual bool Accept(platform::net::socket_t socket) = 0;
    virtual bool Shutdown() = 0;
    virtual long SendBuffer(const void* buffer, long len) = 0;
    virtual long RecvBuffer(void* buffer, long len) = 0;
    virtual long WaitingData() = 0;

    // Server name sent in the handshake (empty = none).
    const std::string& SNIHost() const { return FSNIHost; }
    void SetSNIHost(const std::string& host) { FSNIHost = host; }

    // Longest wait of one handshake, send or receive step, in milliseconds.
    int Timeout() const { return FTimeout; }
    void SetTimeout(int ms) { FTimeout = ms; }

    // The cause of the last failure: a Winsock code when the connection itself failed
    // (time-out, reset), else a negative code of the layer; the text names the cause.
    int LastError() const { return FLastError; }
    const std::string& LastErrorDesc() const { return FLastErrorDesc; }

  protected:
    bool FSSLEnabled = false;
    std::string FSNIHost;
    int FTimeout = 90000;
    int FLastError = 0;
    std::string FLastErrorDesc;
};

class TSecureLayerNone final : public TSecureLayer {
  public:
    std::string LibName() const override { return "ssl_none"; }
    std::string LibVersion() const override { return "Without SSL support"; }
    bool Connect(platform::net::socket_t) override { return Fail(); }
    bool Accept(platform::net::socket_t) override { return Fail(); }
    bool Shutdown() override { return Fail(); }
    long SendBuffer(const void*, long) override { return Fail() ? 0 : -1; }
    long RecvBuffer(void*, long) override { return Fail() ? 0 : -1; }
    long WaitingData() override { return Fail() ? 0 : -1; }

  private:
    bool Fail() {
        FLastError = -1;
        FLastErrorDesc = "SSL/TLS support is not compiled!";
        return false;
    }
};

// The TLS client of this platform.
std::unique_ptr<TSecureLayer> NewSecureLayer();

}  // namespace download

// A blocking TCP socket with time-outs, a line reader, exact block reads, pending
// socket options, Winsock-numbered error codes with texts, and two hooks through which
// the owner watches everything the socket does:
//  - OnStatus (reason, text) at every step: resolving, creating, connecting, each
//    receive (hrReadCount) and send piece (hrWriteCount), errors, and every close;
//  - OnMonitor (writing, bytes) for every block sent or received. For received bytes
//    hrReadCount always comes first, then OnMonitor, then the read filter.
// No operation throws (unless RaiseExcept is switched on): failures leave LastError and
// LastErrorDesc and raise hrError. Hooks run synchronously on the calling thread and may
// re-enter the socket (e.g. CloseSocket from OnMonitor); only StopFlag may be set from
// another thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "download/SecureLayer.h"
#include "platform/exception.h"
#include "platform/memstream.h"
#include "platform/net.h"

namespace download {

enum TSocketHookReason : std::uint8_t {
    hrResolvingBegin = 0,  // host + ":" + port as passed in
    hrResolvingEnd,        // resolved address + ":" + port
    hrSocketCreate,        // "IPv4" or "IPv6"
    hrSocketClose,         // empty; at the end of every close, also when nothing was open
    hrBind,                // address + ":" + port
    hrConnect,             // host + ":" + port; at the end of every connect attempt
    hrCanRead,
    hrCanWrite,
    hrListen,
    hrAccept,
    hrReadCount,   // byte count of a receive
    hrWriteCount,  // byte count of a sent piece
    hrWait,        // bandwidth pause in milliseconds
    hrError,       // code + "," + description
};

enum TSocketFamily : std::uint8_t { famAny = 0, famIP4, famIP6 };

enum TSocketOptionType : std::uint8_t {
    sotLinger = 0,
    sotRecvBuff,
    sotSendBuff,
    sotNonBlock,
    sotRecvTimeout,
    sotSendTimeout,
    sotReuse,
    sotTTL,
    sotBroadcast,
    sotMulticastTTL,
    sotMulticastLoop,
};

struct TSocketOption {
    TSocketOptionType Option = sotLinger;
    bool Enabled = false;
    std::int32_t Value = 0;
};

class TBlockingSocket;

using TSocketStatusHook = std::function<void(TBlockingSocket& sender, TSocketHookReason reason,
                                             const std::string& value)>;
using TSocketMonitorHook = std::function<void(TBlockingSocket& sender, bool writing,
                                              const void* buffer, std::int32_t len)>;
using TSocketDataFilterHook = std::function<void(TBlockingSocket& sender, std::string& value)>;
using TSocketCreateHook = std::function<void(TBlockingSocket& sender)>;
using TSocketHeartbeatHook = std::function<void(TBlockingSocket& sender)>;
using TSocketAfterConnectHook = std::function<void(TBlockingSocket& sender)>;

// Raised only with RaiseExcept on: "TCP/IP Socket error %d: %s".
class ESocketError : public platform::Exception {
  public:
    ESocketError(int errorCode, std::string errorMessage, std::string message)
        : Exception(std::move(message)),
          ErrorCode(errorCode),
          ErrorMessage(std::move(errorMessage)) {}
    int ErrorCode;
    std::string ErrorMessage;
};

// Winsock "network subsystem is unusable": the code of every secure-transport failure.
inline constexpr int wsaSYSNOTREADY = 10091;

class TBlockingSocket {
  public:
    TBlockingSocket();
    virtual ~TBlockingSocket();  // closes the system socket without notifications
    TBlockingSocket(const TBlockingSocket&) = delete;
    TBlockingSocket& operator=(const TBlockingSocket&) = delete;

    // Hooks; called only when assigned.
    TSocketStatusHook OnStatus;
    TSocketDataFilterHook OnReadFilter;
    TSocketCreateHook OnCreateSocket;
    TSocketMonitorHook OnMonitor;
    TSocketHeartbeatHook OnHeartbeat;

    void Bind(const std::string& ip, const std::string& port);
    virtual void Connect(const std::string& ip, const std::string& port);
    virtual void CloseSocket();
    void AbortSocket();

    virtual std::int32_t SendBuffer(const void* buffer, std::int32_t length);
    void SendString(const std::string& data);

    // One receive of up to `length` bytes (raises hrReadCount, OnMonitor, read filter).
    virtual std::int32_t RecvBuffer(void* buffer, std::int32_t length);
    // Whatever is available (buffered or from the system), waiting up to `timeoutMs`.
    std::string RecvPacket(int timeoutMs);
    // Exactly `length` bytes unless an error is set; returns the count placed.
    std::int32_t RecvBufferEx(void* buffer, std::int32_t length, int timeoutMs);
    // Exactly `length` bytes, or empty on error.
    std::string RecvBufferStr(std::int32_t length, int timeoutMs);
    // Text before `terminator` (see ConvertLineEnd for CR LF).
    std::string RecvTerminated(int timeoutMs, const std::string& terminator);
    // A CR LF line (any line end with ConvertLineEnd); empty on error.
    std::string RecvString(int timeoutMs);
    // Appends exactly `size` bytes to `stream`, in whole units of SendMaxChunk bytes; a
    // unit interrupted by an error is not appended.
    void RecvStreamSize(platform::MemoryStream& stream, int timeoutMs, std::int64_t size);

    bool CanRead(int timeoutMs);
    bool CanWrite(int timeoutMs);
    // Bytes the system holds for reading, at most 65 536 (0 when the query fails).
    virtual std::int32_t WaitingData();
    // Discards buffered and waiting received data.
    void Purge();

    int SockCheck(long result);
    void ExceptCheck();
    void ResetLastError();
    static std::string GetErrorDesc(int errorCode);

    int LastError() const { return FLastError; }
    const std::string& LastErrorDesc() const { return FLastErrorDesc; }

    bool StopFlag() const { return FStopFlag.load(); }
    void SetStopFlag(bool value) { FStopFlag.store(value); }

    // Pending options: applied at once to an open socket, else when it is created.
    std::int32_t SizeRecvBuffer() const;
    void SetSizeRecvBuffer(std::int32_t size);
    std::int32_t SizeSendBuffer() const;
    void SetSizeSendBuffer(std::int32_t size);
    bool NonBlockMode() const { return FNonBlockMode; }
    void SetNonBlockMode(bool value);
    void SetTimeout(std::int32_t ms);  // both system time-outs
    void SetLinger(bool enable, std::int32_t ms);
    void SetTTL(std::int32_t ttl);
    void SetReuse(bool enable);

    TSocketFamily Family() const { return FFamily; }
    void SetFamily(TSocketFamily family);
    bool PreferIP4() const { return FPreferIP4; }
    void SetPreferIP4(bool value) { FPreferIP4 = value; }
    bool IP6used() const { return FIP6used; }

    bool ConvertLineEnd() const { return FConvertLineEnd; }
    void SetConvertLineEnd(bool value) { FConvertLineEnd = value; }
    bool RaiseExcept() const { return FRaiseExcept; }
    void SetRaiseExcept(bool value) { FRaiseExcept = value; }
    std::int32_t MaxLineLength() const { return FMaxLineLength; }
    void SetMaxLineLength(std::int32_t value) { FMaxLineLength = value; }
    bool InterPacketTimeout() const { return FInterPacketTimeout; }
    void SetInterPacketTimeout(bool value) { FInterPacketTimeout = value; }
    std::int32_t SendMaxChunk() const { return FSendMaxChunk; }
    void SetSendMaxChunk(std::int32_t value) { FSendMaxChunk = value > 0 ? value : 1; }
    std::int32_t ConnectionTimeout() const { return FConnectionTimeout; }
    void SetConnectionTimeout(std::int32_t ms) { FConnectionTimeout = ms; }
    std::uint32_t NonblockSendTimeout() const { return FNonblockSendTimeout; }
    void SetNonblockSendTimeout(std::uint32_t ms) { FNonblockSendTimeout = ms; }
    std::uint32_t HeartbeatRate() const { return FHeartbeatRate; }
    void SetHeartbeatRate(std::uint32_t ms) { FHeartbeatRate = ms; }
    std::uint32_t MaxSendBandwidth() const { return FMaxSendBandwidth; }
    void SetMaxSendBandwidth(std::uint32_t bytesPerSecond) { FMaxSendBandwidth = bytesPerSecond; }
    std::uint32_t MaxRecvBandwidth() const { return FMaxRecvBandwidth; }
    void SetMaxRecvBandwidth(std::uint32_t bytesPerSecond) { FMaxRecvBandwidth = bytesPerSecond; }
    void SetMaxBandwidth(std::uint32_t bytesPerSecond) {
        FMaxSendBandwidth = FMaxRecvBandwidth = bytesPerSecond;
    }

    // Bytes received and sent since the system socket was created.
    std::int64_t RecvCounter() const { return FRecvCounter; }
    std::int64_t SendCounter() const { return FSendCounter; }

    platform::net::socket_t Socket() const { return FSocket; }
    std::int32_t Tag() const { return FTag; }
    void SetTag(std::int32_t value) { FTag = value; }
    void* Owner() const { return FOwner; }
    void SetOwner(void* owner) { FOwner = owner; }
    // Bytes received and not yet handed out.
    const std::string& LineBuffer() const { return FBuffer; }

    std::string GetLocalSinIP() const;
    std::string GetRemoteSinIP() const;
    int GetLocalSinPort() const;
    int GetRemoteSinPort() const;

  protected:
    // Raises the status hook when assigned.
    void DoStatus(TSocketHookReason reason, const std::string& value);
    void DoMonitor(bool writing, const void* buffer, std::int32_t len);
    // Resolves for bind/connect; fills `address` and returns true on success.
    bool SetSin(platform::net::SocketAddress& address, const std::string& ip, const std::string& port);
    void CreateSocketByAddress(const platform::net::SocketAddress& address);
    void ConnectPlain(const std::string& ip, const std::string& port);
    // The stop test before every send and receive: false when the operation must not run.
    bool TestStopFlag();
    virtual std::string GetErrorDescEx();
    bool WaitReadable(int timeoutMs);
    void SetLastError(int code);
    // The system half of RecvPacket: the count of bytes waiting to be read, after
    // waiting up to `timeoutMs` for some; 0 with 10054 (closed) or 10060 (time-out).
    std::int32_t AwaitData(int timeoutMs);
    // With ConvertLineEnd, drops the partner of a line end split across packets from the
    // front of fresh data; returns the remaining count.
    std::int32_t DropLineEndPartner(char* data, std::int32_t count);

    std::string FBuffer;
    int FLastError = 0;
    std::string FLastErrorDesc;
    platform::net::socket_t FSocket = platform::net::kInvalidSocket;
    std::int64_t FRecvCounter = 0;
    std::int64_t FSendCounter = 0;
    // Ends a Purge in progress (a close re-entered from a hook asks for it).
    bool FPurgeStop = false;

  private:
    void SetDelayedOption(const TSocketOption& option);
    void ApplyOption(const TSocketOption& option);
    void LimitBandwidth(std::int32_t length, std::uint32_t limit,
                        std::chrono::steady_clock::time_point& next);
    void ReadAddresses();

    platform::net::SocketAddress FLocalSin;
    platform::net::SocketAddress FRemoteSin;
    std::int32_t FTag = 0;
    bool FRaiseExcept = false;
    bool FNonBlockMode = false;
    std::int32_t FMaxLineLength = 0;
    std::uint32_t FMaxSendBandwidth = 0;
    std::uint32_t FMaxRecvBandwidth = 0;
    std::chrono::steady_clock::time_point FNextSend{};
    std::chrono::steady_clock::time_point FNextRecv{};
    bool FConvertLineEnd = false;
    bool FLastCR = false;
    bool FLastLF = false;
    bool FBinded = false;
    TSocketFamily FFamily = famAny;
    TSocketFamily FFamilySave = famAny;
    bool FIP6used = false;
    bool FPreferIP4 = true;
    // Newest first; applied from the back so options take effect in the order set.
    std::vector<TSocketOption> FDelayedOptions;
    bool FInterPacketTimeout = true;
    std::int32_t FSendMaxChunk = 65536;
    std::atomic<bool> FStopFlag{false};
    std::uint32_t FNonblockSendTimeout = 15000;
    std::uint32_t FHeartbeatRate = 0;
    std::int32_t FConnectionTimeout = 0;
    void* FOwner = nullptr;
};

enum TSocksType : std::uint8_t { skSocks5 = 0, skSocks4 };

// SOCKS proxy settings. With SocksIP empty (the default) no SOCKS step takes place; the
// SOCKS negotiation itself is not part of this program.
class TSocksBlockingSocket : public TBlockingSocket {
  public:
    std::string SocksIP() const { return FSocksIP; }
    void SetSocksIP(const std::string& value) { FSocksIP = value; }
    std::string SocksPort() const { return FSocksPort; }
    void SetSocksPort(const std::string& value) { FSocksPort = value; }
    std::string SocksUsername() const { return FSocksUsername; }
    void SetSocksUsername(const std::string& value) { FSocksUsername = value; }
    std::string SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& value) { FSocksPassword = value; }
    std::int32_t SocksTimeout() const { return FSocksTimeout; }
    void SetSocksTimeout(std::int32_t ms) { FSocksTimeout = ms; }
    bool SocksResolver() const { return FSocksResolver; }
    void SetSocksResolver(bool value) { FSocksResolver = value; }
    TSocksType SocksType() const { return FSocksType; }
    void SetSocksType(TSocksType value) { FSocksType = value; }
    bool UsingSocks() const { return FUsingSocks; }
    int SocksLastError() const { return FSocksLastError; }

  protected:
    std::string FSocksIP;
    std::string FSocksPort = "1080";
    std::int32_t FSocksTimeout = 60000;
    std::string FSocksUsername;
    std::string FSocksPassword;
    bool FUsingSocks = false;
    bool FSocksResolver = true;
    int FSocksLastError = 0;
    std::string FSocksResponseIP, FSocksResponsePort, FSocksLocalIP, FSocksLocalPort,
        FSocksRemoteIP, FSocksRemotePort;
    bool FBypassFlag = false;
    TSocksType FSocksType = skSocks5;
};

// The TCP socket of the HTTP client: plain connect, or through an HTTP proxy's tunnel
// (CONNECT) when HTTPTunnelIP is set (SOCKS settings are kept but not negotiated), and a
// secure-transport layer (the platform's TLS client).
//
// Proxies in the error texts: while the socket connects through a proxy (a tunnel, or
// ProxyName set by the client for its proxy form) a failure reads "Can't connect to proxy
// <proxy> (<cause>)"; a proxy's refusal reads "Proxy refused the tunnel: 407 Proxy
// Authentication Required (<proxy>)" with error 10061. <proxy> is "host:port" as set.
class TTCPBlockingSocket : public TSocksBlockingSocket {
  public:
    TTCPBlockingSocket();
    ~TTCPBlockingSocket() override;

    TSocketAfterConnectHook OnAfterConnect;

    void Connect(const std::string& ip, const std::string& port) override;
    void CloseSocket() override;
    std::int32_t SendBuffer(const void* buffer, std::int32_t length) override;
    std::int32_t RecvBuffer(void* buffer, std::int32_t length) override;
    std::int32_t WaitingData() override;

    // Runs the secure handshake on the connected socket; failures give 10091 (or the
    // connection's own code, e.g. 10060) with the layer's text.
    void SSLDoConnect();
    TSecureLayer& SSL() { return *FSSL; }

    std::string HTTPTunnelIP() const { return FHTTPTunnelIP; }
    void SetHTTPTunnelIP(const std::string& value) { FHTTPTunnelIP = value; }
    std::string HTTPTunnelPort() const { return FHTTPTunnelPort; }
    void SetHTTPTunnelPort(const std::string& value) { FHTTPTunnelPort = value; }
    std::string HTTPTunnelUser() const { return FHTTPTunnelUser; }
    void SetHTTPTunnelUser(const std::string& value) { FHTTPTunnelUser = value; }
    std::string HTTPTunnelPass() const { return FHTTPTunnelPass; }
    void SetHTTPTunnelPass(const std::string& value) { FHTTPTunnelPass = value; }
    // The longest wait for the tunnel's whole answer.
    std::int32_t HTTPTunnelTimeout() const { return FHTTPTunnelTimeout; }
    void SetHTTPTunnelTimeout(std::int32_t ms) { FHTTPTunnelTimeout = ms; }
    // Whether the open connection is a tunnel the proxy opened.
    bool HTTPTunnel() const { return FHTTPTunnel; }

    // The proxy ("host:port") that the next connect reaches, for the error texts; the
    // tunnel's settings give it for a tunnel.
    const std::string& ProxyName() const { return FProxyName; }
    void SetProxyName(const std::string& value) { FProxyName = value; }
    // Ends the current operation with the proxy's refusal of `what` ("tunnel", "request"):
    // error 10061 and "Proxy refused the <what>: <status> (<proxy>)".
    void ProxyRefused(const std::string& what, const std::string& status);

  protected:
    std::string GetErrorDescEx() override;

  private:
    int SecureLayerError() const;
    void ConnectTunnel(const std::string& ip, const std::string& port);
    // Reads the proxy's answer to CONNECT, within the tunnel's time and size bounds.
    void ReadTunnelAnswer();

    std::unique_ptr<TSecureLayer> FSSL;
    std::string FHTTPTunnelIP;
    std::string FHTTPTunnelPort;
    bool FHTTPTunnel = false;
    std::string FHTTPTunnelRemoteIP;
    std::string FHTTPTunnelRemotePort;
    std::string FHTTPTunnelUser;
    std::string FHTTPTunnelPass;
    std::int32_t FHTTPTunnelTimeout = 30000;
    bool FClosing = false;
    std::string FProxyName;
    bool FConnectingToProxy = false;
    std::string FProxyRefusal;
};

}  // namespace download

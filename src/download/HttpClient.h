// HTTP/1.0 client over one owned TTCPBlockingSocket: one request per HTTPMethod call,
// with connection reuse, 100-continue, cookies, and bodies framed by length, by chunks
// or by the server's close.
//
// Taking the body out as it arrives. The body readers only ever append to Document at
// its end, in whole units: a block of at most 64 KiB (Sock().SendMaxChunk()) per unit
// for a counted or chunked body, one received packet for a body read to the close. Each
// unit is appended after the socket has raised hrReadCount and OnMonitor for its last
// bytes, so inside the socket's hooks Document holds complete units only. An owner that
// must keep memory bounded (the download worker) may therefore, from OnMonitor or
// OnStatus, write what Document holds to its file and call Document().Clear(): nothing
// is lost, the client keeps appending at the (new) end and never reads Document back.
// The units appended after the last OnMonitor (at most two: one may be completed from
// bytes already buffered, without a receive) are taken at the closing hrSocketClose,
// raised inside HTTPMethod after the body has been read (and BodyComplete() is known),
// or after HTTPMethod returns when the connection stays open. An owner that empties
// Document at every OnMonitor and at that close never holds more than two units. Used
// on its own, the client keeps the whole body in Document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "download/BlockingSocket.h"
#include "platform/memstream.h"

namespace download {

// Settings shared by the network clients.
class TNetClient {
  public:
    virtual ~TNetClient() = default;

    const std::string& TargetHost() const { return FTargetHost; }
    void SetTargetHost(const std::string& value) { FTargetHost = value; }
    const std::string& TargetPort() const { return FTargetPort; }
    void SetTargetPort(const std::string& value) { FTargetPort = value; }
    // Local address to bind; the any-address "0.0.0.0" means no bind.
    const std::string& IPInterface() const { return FIPInterface; }
    void SetIPInterface(const std::string& value) { FIPInterface = value; }
    // Longest wait for data, in milliseconds.
    std::uint32_t Timeout() const { return FTimeout; }
    void SetTimeout(std::uint32_t ms) { FTimeout = ms; }
    // Basic authorisation when the URL carries no user.
    const std::string& UserName() const { return FUserName; }
    void SetUserName(const std::string& value) { FUserName = value; }
    const std::string& Password() const { return FPassword; }
    void SetPassword(const std::string& value) { FPassword = value; }

  protected:
    std::string FTargetHost = "127.0.0.1";
    std::string FTargetPort = "0";
    std::string FIPInterface = "0.0.0.0";
    std::uint32_t FTimeout = 5000;
    std::string FUserName;
    std::string FPassword;
};

enum TTransferEncoding : std::uint8_t {
    teUnknown = 0,  // read until the server closes
    teIdentity,     // read the announced length
    teChunked,
};

class THTTPClient : public TNetClient {
  public:
    THTTPClient();
    ~THTTPClient() override;
    THTTPClient(const THTTPClient&) = delete;
    THTTPClient& operator=(const THTTPClient&) = delete;

    // Ranges to 0, Document and Headers emptied, MimeType "text/html".
    void Clear();
    // Fills ResultCode and ResultString from a status line.
    void DecodeStatus(const std::string& value);
    // Runs one request; true when the exchange ended without a socket error (or with
    // the server closing an unframed body). Exceptions raised by the socket's hooks pass
    // through; nothing else is raised.
    bool HTTPMethod(const std::string& method, const std::string& url);
    // The socket's next send or receive ends with error 10053.
    void Abort();

    // Before a request: extra request header lines; after it: the status line and the
    // response header lines (the last one empty).
    std::vector<std::string>& Headers() { return FHeaders; }
    // "name=value" entries sent with every request and updated from every answer.
    std::vector<std::string>& Cookies() { return FCookies; }
    // Before a request: the request body; after it: the response body.
    platform::MemoryStream& Document() { return FDocument; }

    std::int64_t RangeStart() const { return FRangeStart; }
    void SetRangeStart(std::int64_t value) { FRangeStart = value; }
    std::int64_t RangeEnd() const { return FRangeEnd; }
    void SetRangeEnd(std::int64_t value) { FRangeEnd = value; }
    const std::string& MimeType() const { return FMimeType; }
    void SetMimeType(const std::string& value) { FMimeType = value; }
    const std::string& Protocol() const { return FProtocol; }
    void SetProtocol(const std::string& value) { FProtocol = value; }
    bool KeepAlive() const { return FKeepAlive; }
    void SetKeepAlive(bool value) { FKeepAlive = value; }
    std::uint32_t KeepAliveTimeout() const { return FKeepAliveTimeout; }
    void SetKeepAliveTimeout(std::uint32_t seconds) { FKeepAliveTimeout = seconds; }
    bool Status100() const { return FStatus100; }
    void SetStatus100(bool value) { FStatus100 = value; }
    const std::string& ProxyHost() const { return FProxyHost; }
    void SetProxyHost(const std::string& value) { FProxyHost = value; }
    const std::string& ProxyPort() const { return FProxyPort; }
    void SetProxyPort(const std::string& value) { FProxyPort = value; }
    const std::string& ProxyUser() const { return FProxyUser; }
    void SetProxyUser(const std::string& value) { FProxyUser = value; }
    const std::string& ProxyPass() const { return FProxyPass; }
    void SetProxyPass(const std::string& value) { FProxyPass = value; }
    const std::string& UserAgent() const { return FUserAgent; }
    void SetUserAgent(const std::string& value) { FUserAgent = value; }
    bool AddPortNumberToHost() const { return FAddPortNumberToHost; }
    void SetAddPortNumberToHost(bool value) { FAddPortNumberToHost = value; }

    // Status code of the last answer; 500 while a request has no status line yet.
    std::int32_t ResultCode() const { return FResultCode; }
    const std::string& ResultString() const { return FResultString; }
    // Length of the body being read: the announced length, or the current chunk's size.
    std::int64_t DownloadSize() const { return FDownloadSize; }
    std::int64_t UploadSize() const { return FUploadSize; }
    // True once the body of the current answer has been read to its framed end (the
    // announced length, the last chunk, or the server's close of an unframed body), or
    // when the answer has no body. False while reading and after a body cut short. Set
    // before the connection is closed at the end of HTTPMethod.
    bool BodyComplete() const { return FBodyComplete; }

    TTCPBlockingSocket& Sock() { return *FSock; }

  protected:
    virtual bool ReceiveToClose();
    virtual bool ReceiveCounted(std::int64_t size);
    virtual bool ReceiveChunked();

  private:
    bool ConnectAfresh(bool useTls);
    // The header lines as 8-bit text, each ended by CR LF.
    std::string BuildRequestText() const;
    void CollectCookies();
    void SetCookie(const std::string& name, const std::string& value);

    std::unique_ptr<TTCPBlockingSocket> FSock;
    TTransferEncoding FTransferEncoding = teUnknown;
    std::string FAliveHost;
    std::string FAlivePort;
    std::string FAliveProxy;  // the proxy the open connection goes through, if any
    std::vector<std::string> FHeaders;
    platform::MemoryStream FDocument;
    std::string FMimeType = "text/html";
    std::string FProtocol = "1.0";
    bool FKeepAlive = true;
    std::uint32_t FKeepAliveTimeout = 300;
    bool FStatus100 = false;
    std::string FProxyHost;
    std::string FProxyPort = "8080";
    std::string FProxyUser;
    std::string FProxyPass;
    std::int32_t FResultCode = 0;
    std::string FResultString;
    std::string FUserAgent = "Mozilla/4.0 (compatible; TravikVersoes)";
    std::vector<std::string> FCookies;
    std::int64_t FDownloadSize = 0;
    std::int64_t FUploadSize = 0;
    std::int64_t FRangeStart = 0;
    std::int64_t FRangeEnd = 0;
    bool FAddPortNumberToHost = true;
    bool FBodyComplete = false;
};

}  // namespace download

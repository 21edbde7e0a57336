#include "download/HttpClient.h"

#include "download/NetUtil.h"

namespace download {

namespace {

// Limits that keep a hostile server from growing the response header without end.
constexpr std::int32_t kMaxLineLength = 65536;
constexpr std::size_t kMaxHeaderLines = 1024;

bool IsInterim(std::int32_t code) {
    return code >= 100 && code <= 199;
}

}  // namespace

THTTPClient::THTTPClient() : FSock(std::make_unique<TTCPBlockingSocket>()) {
    FSock->SetOwner(this);
    FSock->SetConvertLineEnd(true);
    FSock->SetMaxLineLength(kMaxLineLength);
    FSock->SetSizeRecvBuffer(65536);
    FSock->SetSizeSendBuffer(65536);
    FTargetPort = "80";
    FTimeout = 90000;
    Clear();
}

THTTPClient::~THTTPClient() {
    FSock.reset();
}

void THTTPClient::Clear() {
    FRangeStart = 0;
    FRangeEnd = 0;
    FDocument.Clear();
    FHeaders.clear();
    FMimeType = "text/html";
}

void THTTPClient::DecodeStatus(const std::string& value) {
    const std::string s = Trim(TextAfter(value, " "));
    const auto code = ParseDecimal(Trim(TextBefore(s, " ")));
    FResultCode = code && *code <= INT32_MAX ? static_cast<std::int32_t>(*code) : 0;
    FResultString = Trim(TextAfter(s, " "));
    if (FResultString == s) FResultString.clear();
}

void THTTPClient::Abort() {
    FSock->SetStopFlag(true);
}

std::string THTTPClient::BuildRequestText() const {
    std::string text;
    if (FProtocol == "0.9") {
        text = FHeaders.empty() ? std::string() : FHeaders.front() + "\r\n";
    } else {
        for (const auto& line : FHeaders) text += line + "\r\n";
    }
    // Header lines go as the program holds them (UTF-8), the same bytes on every platform.
    return text;
}

bool THTTPClient::ConnectAfresh(bool useTls) {
    FSock->CloseSocket();
    FSock->Bind(FIPInterface, "0");
    if (FSock->LastError() != 0) return false;
    FSock->Connect(FTargetHost, FTargetPort);
    if (FSock->LastError() != 0) return false;
    if (useTls) {
        FSock->SSL().SetTimeout(static_cast<int>(FTimeout));
        const bool setName = FSock->SSL().SNIHost().empty();
        if (setName) FSock->SSL().SetSNIHost(FTargetHost);
        FSock->SSLDoConnect();
        if (setName) FSock->SSL().SetSNIHost("");
        if (FSock->LastError() != 0) return false;
    }
    FAliveHost = FTargetHost;
    FAlivePort = FTargetPort;
    FAliveProxy = FSock->ProxyName();
    return true;
}

bool THTTPClient::HTTPMethod(const std::string& method, const std::string& url) {
    FResultCode = 500;
    FResultString.clear();
    FDownloadSize = 0;
    FUploadSize = 0;
    FBodyComplete = false;

    const TUrlParts u = SplitUrl(url);
    std::string user = PercentDecode(u.User);
    std::string pass = PercentDecode(u.Password);
    if (user.empty()) {
        user = FUserName;
        pass = FPassword;
    }
    const std::string protocol = UpperCase(u.Protocol);
    const bool https = protocol == "HTTPS";
    if (https) {
        FSock->SetHTTPTunnelIP(FProxyHost);
        FSock->SetHTTPTunnelPort(FProxyPort);
        FSock->SetHTTPTunnelUser(FProxyUser);
        FSock->SetHTTPTunnelPass(FProxyPass);
    } else {
        FSock->SetHTTPTunnelIP("");
        FSock->SetHTTPTunnelPort("");
        FSock->SetHTTPTunnelUser("");
        FSock->SetHTTPTunnelPass("");
    }
    const bool proxyForm = !FProxyHost.empty() && !https;
    const bool viaProxy = !FProxyHost.empty();
    // The proxy in the socket's error texts, as "host:port".
    FSock->SetProxyName(viaProxy ? (IsIP6(FProxyHost) ? "[" + FProxyHost + "]" : FProxyHost) + ":" +
                                       FProxyPort
                                 : std::string());
    const bool sendBody = FDocument.Size() > 0;
    const std::string host = IsIP6(u.Host) ? "[" + u.Host + "]" : u.Host;

    // The request header, top to bottom, above the caller's own lines.
    std::vector<std::string> top;
    std::string target = PercentEncodeTarget(u.Target);
    if (proxyForm) target = u.Protocol + "://" + host + ":" + u.Port + target;
    if (target == "/*") target = "*";
    const std::string verb = UpperCase(method);
    top.push_back(FProtocol == "0.9" ? verb + " " + target
                                     : verb + " " + target + " HTTP/" + FProtocol);
    const bool portInHost = FAddPortNumberToHost && ((u.Port != "80" && protocol == "HTTP") ||
                                                     (u.Port != "443" && protocol == "HTTPS"));
    top.push_back("Host: " + host + (portInHost ? ":" + u.Port : ""));
    if (proxyForm && !FProxyUser.empty())
        top.push_back("Proxy-Authorization: Basic " + EncodeBase64(FProxyUser + ":" + FProxyPass));
    if (!user.empty()) top.push_back("Authorization: Basic " + EncodeBase64(user + ":" + pass));
    const std::string prefix = proxyForm ? "Proxy-" : "";
    if (FKeepAlive) {
        top.push_back("Keep-Alive: " + std::to_string(FKeepAliveTimeout));
        top.push_back(prefix + "Connection: keep-alive");
    } else {
        top.push_back(prefix + "Connection: close");
    }
    if (!FCookies.empty()) {
        std::string cookie;
        for (const auto& entry : FCookies) cookie += (cookie.empty() ? "" : "; ") + entry;
        top.push_back("Cookie: " + cookie);
    }
    if (FRangeStart > 0 || FRangeEnd > 0) {
        top.push_back("Range: bytes=" + std::to_string(FRangeStart) + "-" +
                      (FRangeEnd >= FRangeStart ? std::to_string(FRangeEnd) : ""));
    }
    if (!FUserAgent.empty()) top.push_back("User-Agent: " + FUserAgent);
    if (sendBody) {
        if (!FMimeType.empty()) top.push_back("Content-Type: " + FMimeType);
        top.push_back("Content-Length: " + std::to_string(FDocument.Size()));
    }
    const bool expect = FStatus100 && sendBody && FProtocol == "1.1";
    if (expect) top.push_back("Expect: 100-continue");
    FHeaders.insert(FHeaders.begin(), top.begin(), top.end());
    if (!FHeaders.back().empty()) FHeaders.emplace_back();

    if (proxyForm) {
        FTargetHost = FProxyHost;
        FTargetPort = FProxyPort;
    } else {
        FTargetHost = u.Host;
        FTargetPort = u.Port;
    }

    bool opened = false;
    if (FSock->Socket() == platform::net::kInvalidSocket) {
        opened = ConnectAfresh(https);
    } else if (FAliveHost == FTargetHost && FAlivePort == FTargetPort &&
               FAliveProxy == FSock->ProxyName() && FSock->SSL().Connection() == https &&
               !FSock->CanRead(0)) {
        opened = true;  // the previous request left this connection open and idle
    } else {
        opened = ConnectAfresh(https);
    }
    if (!opened) {
        FAliveHost.clear();
        FAlivePort.clear();
        return false;
    }

    // Send the request.
    const std::string head = BuildRequestText();
    const std::string& body = FDocument.Bytes();
    FDocument.Seek(0, platform::fs::SeekOrigin::Begin);
    std::string rememberedStatus;
    if (expect) {
        FSock->SendString(head);
        if (FSock->LastError() == 0) {
            std::string line;
            do line = FSock->RecvString(static_cast<int>(FTimeout));
            while (line.empty() && FSock->LastError() == 0);
            rememberedStatus = line;
            DecodeStatus(line);
            while (!line.empty() && FSock->LastError() == 0)
                line = FSock->RecvString(static_cast<int>(FTimeout));
            if (FSock->LastError() == 0 && IsInterim(FResultCode)) {
                rememberedStatus.clear();
                FUploadSize = static_cast<std::int64_t>(body.size());
                FSock->SendString(body);
            }
        }
    } else if (sendBody && body.size() < 65536) {
        const std::string request = head + body;
        FSock->SendString(request);
        FUploadSize = static_cast<std::int64_t>(request.size());
    } else if (sendBody) {
        FSock->SendString(head);
        FUploadSize = static_cast<std::int64_t>(body.size());
        if (FSock->LastError() == 0) FSock->SendString(body);
    } else {
        FSock->SendString(head);
    }
    if (FSock->LastError() != 0) return false;

    Clear();
    std::int64_t size = -1;
    FTransferEncoding = teUnknown;
    const int timeout = static_cast<int>(FTimeout);
    const auto failed = [&] { return FSock->LastError() != 0; };

    // Status line; interim answers (1xx) with their header lines are skipped.
    if (!rememberedStatus.empty()) {
        FHeaders.push_back(rememberedStatus);
    } else {
        do {
            std::string line;
            do line = FSock->RecvString(timeout);
            while (line.empty() && !failed());
            if (failed()) break;
            if (StartsWith(UpperCase(line), "HTTP/")) {
                FHeaders.assign(1, line);
                DecodeStatus(line);
                if (IsInterim(FResultCode)) {
                    while (!line.empty() && !failed()) line = FSock->RecvString(timeout);
                }
            } else {
                // No status line: an answer without header, read to the close.
                FDocument.Write(line + "\r\n");
                FResultCode = 0;
            }
        } while (!failed() && IsInterim(FResultCode));
    }

    bool toClose = FProtocol != "1.1";

    // Header lines, folded lines joined.
    if (!FHeaders.empty() && !failed()) {
        std::vector<std::string> lines;
        std::string line;
        do {
            line = FSock->RecvString(timeout);
            lines.push_back(line);
        } while (!line.empty() && !failed() && lines.size() <= kMaxHeaderLines);
        const bool tooMany = !line.empty() && !failed();
        for (std::size_t x = 0; !tooMany && x < lines.size();) {
            const std::string s = JoinFoldedHeader(lines, x);
            FHeaders.push_back(s);
            const std::string su = UpperCase(s);
            if (StartsWith(su, "CONTENT-LENGTH:")) {
                size = ParseDecimal(Trim(TextAfter(s, ":"))).value_or(-1);
                if (size != -1 && FTransferEncoding == teUnknown) FTransferEncoding = teIdentity;
            } else if (StartsWith(su, "CONTENT-TYPE:")) {
                FMimeType = Trim(TextAfter(s, ":"));
            } else if (StartsWith(su, "TRANSFER-ENCODING:") &&
                       TextAfter(su, ":").find("CHUNKED") != std::string::npos) {
                FTransferEncoding = teChunked;
            }
            if (proxyForm) {
                if (StartsWith(su, "PROXY-CONNECTION:") && su.find("CLOSE") != std::string::npos)
                    toClose = true;
            } else if (StartsWith(su, "CONNECTION:") && su.find("CLOSE") != std::string::npos) {
                toClose = true;
            }
        }
        if (tooMany) {
            FSock->CloseSocket();
            FAliveHost.clear();
            FAlivePort.clear();
            return false;
        }
    }

    // The proxy's own refusal (407; and 401, which some proxies send for wrong
    // credentials, when only the proxy was given any) ends the request with its text.
    if (proxyForm && !failed() &&
        (FResultCode == 407 || (FResultCode == 401 && !FProxyUser.empty() && user.empty())))
        FSock->ProxyRefused("request", std::to_string(FResultCode) + " " + FResultString);

    if (failed()) {
        FSock->CloseSocket();
        FAliveHost.clear();
        FAlivePort.clear();
        return false;
    }

    bool result = true;
    if (method != "HEAD" && FResultCode != 204 && FResultCode != 304) {
        switch (FTransferEncoding) {
            case teUnknown:
                result = ReceiveToClose();
                break;
            case teIdentity:
                result = ReceiveCounted(size);
                break;
            case teChunked:
                result = ReceiveChunked();
                break;
        }
    }
    FBodyComplete = result;

    FDocument.Seek(0, platform::fs::SeekOrigin::Begin);
    if (toClose) {
        FSock->CloseSocket();
        FAliveHost.clear();
        FAlivePort.clear();
    }
    CollectCookies();
    return result;
}

bool THTTPClient::ReceiveToClose() {
    for (;;) {
        const std::string packet = FSock->RecvPacket(static_cast<int>(FTimeout));
        if (FSock->LastError() != 0) break;
        FDocument.Seek(0, platform::fs::SeekOrigin::End);
        FDocument.Write(packet);
    }
    if (FSock->LastError() == platform::net::wsaECONNRESET) {
        FSock->ResetLastError();  // the server's close ends the body
        return true;
    }
    return false;
}

bool THTTPClient::ReceiveCounted(std::int64_t size) {
    if (size < 1) return true;
    FDownloadSize = size;
    FSock->RecvStreamSize(FDocument, static_cast<int>(FTimeout), size);
    FDocument.Seek(0, platform::fs::SeekOrigin::End);
    return FSock->LastError() == 0;
}

bool THTTPClient::ReceiveChunked() {
    for (;;) {
        std::string line;
        do line = FSock->RecvString(static_cast<int>(FTimeout));
        while (line.empty() && FSock->LastError() == 0);
        if (FSock->LastError() != 0) return false;
        const auto size = ParseHex(Trim(TextBefore(Trim(TextBefore(line, " ")), ";")));
        // A chunk line that is not a size breaks the framing: the body is incomplete.
        if (!size) return false;
        if (*size == 0) return true;
        if (!ReceiveCounted(*size)) return false;
    }
}

void THTTPClient::SetCookie(const std::string& name, const std::string& value) {
    const std::string key = UpperCase(name) + "=";
    for (auto it = FCookies.begin(); it != FCookies.end(); ++it) {
        if (UpperCase(it->substr(0, key.size())) != key) continue;
        if (value.empty())
            FCookies.erase(it);
        else
            *it = name + "=" + value;
        return;
    }
    if (!value.empty()) FCookies.push_back(name + "=" + value);
}

void THTTPClient::CollectCookies() {
    for (const auto& line : FHeaders) {
        if (!StartsWith(LowerCase(line), "set-cookie:")) continue;
        const std::string s = Trim(TextBefore(TextAfter(line, ":"), ";"));
        SetCookie(Trim(TextBefore(s, "=")), Trim(TextAfter(s, "=")));
    }
}

}  // namespace download

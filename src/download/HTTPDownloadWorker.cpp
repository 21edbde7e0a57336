#include "download/HTTPDownloadWorker.h"

#include <cctype>
#include <optional>
#include <utility>
#include <vector>

#include "download/NetUtil.h"
#include "download/ProxyChoice.h"
#include "platform/exception.h"

namespace download {

namespace {

constexpr const char* kPartSuffix = ".part";

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool IsRedirect(std::int32_t code) {
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

// "Content-Range: bytes first-last/total" (total may be "*"), or "bytes */total".
struct ContentRange {
    std::optional<std::int64_t> first, last, total;
};

std::optional<ContentRange> ParseContentRange(const std::vector<std::string>& headers) {
    const auto value = HeaderValue(headers, "Content-Range");
    if (!value) return std::nullopt;
    const auto blank = value->find(' ');
    if (blank == std::string::npos || LowerCase(value->substr(0, blank)) != "bytes")
        return std::nullopt;
    const std::string byteRange = Trim(value->substr(blank + 1));
    const auto slash = byteRange.find('/');
    if (slash == std::string::npos) return std::nullopt;
    ContentRange range;
    const std::string total = Trim(byteRange.substr(slash + 1));
    if (total != "*") {
        range.total = ParseDecimal(total);
        if (!range.total) return std::nullopt;
    }
    const std::string span = Trim(byteRange.substr(0, slash));
    if (span == "*") return range;
    const auto dash = span.find('-');
    if (dash == std::string::npos) return std::nullopt;
    range.first = ParseDecimal(Trim(span.substr(0, dash)));
    range.last = ParseDecimal(Trim(span.substr(dash + 1)));
    if (!range.first || !range.last || *range.last < *range.first) return std::nullopt;
    // An end that no file can have: past the total, or with no size after it.
    if (*range.last == INT64_MAX || (range.total && *range.last >= *range.total))
        return std::nullopt;
    return range;
}

// The last segment of the URL's path (the query is not part of it).
std::string FileNameFromUrl(const std::string& url) {
    std::string path = SplitUrl(url).Path;
    for (auto& c : path)
        if (c == '/') c = '\\';
    const auto cut = path.find_last_of("\\:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The value after "filename=": a quoted name up to its closing quote, else up to ";".
std::string FileNameValue(const std::string& rest) {
    if (!rest.empty() && rest.front() == '"') {
        const auto close = rest.find('"', 1);
        return rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return Trim(TextBefore(rest, ";"));
}

bool HasScheme(const std::string& url) {
    const auto sep = url.find("://");
    if (sep == std::string::npos || sep == 0) return false;
    for (std::size_t i = 0; i < sep; ++i) {
        const unsigned char c = url[i];
        if (!(std::isalnum(c) || c == '+' || c == '-' || c == '.')) return false;
    }
    return true;
}

// Removes "." and ".." segments from an absolute path.
std::string RemoveDotSegments(const std::string& path) {
    std::vector<std::string> segments;
    std::size_t pos = 1;  // after the leading "/"
    bool trailingSlash = false;
    while (pos <= path.size()) {
        const auto next = path.find('/', pos);
        const std::string segment =
            path.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
        trailingSlash = next == std::string::npos && (segment == "." || segment == "..");
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (segment != ".") {
            segments.push_back(segment);
        }
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    std::string result;
    for (const auto& segment : segments) result += "/" + segment;
    if (result.empty() || trailingSlash) result += "/";
    return result;
}

}  // namespace

std::string ResolveRedirectUrl(const std::string& base, const std::string& location) {
    std::string ref = Trim(location);
    ref = ref.substr(0, ref.find('#'));
    if (HasScheme(ref)) return ref;
    const TUrlParts u = SplitUrl(base);
    if (StartsWith(ref, "//")) return u.Protocol + ":" + ref;

    std::string authority = u.Protocol + "://";
    if (!u.User.empty()) authority += u.User + (u.Password.empty() ? "" : ":" + u.Password) + "@";
    authority += (IsIP6(u.Host) ? "[" + u.Host + "]" : u.Host) + ":" + u.Port;

    if (ref.empty()) return authority + u.Target;
    if (ref.front() == '?') return authority + u.Path + ref;
    const auto queryAt = ref.find('?');
    const std::string query = queryAt == std::string::npos ? "" : ref.substr(queryAt);
    std::string path = ref.substr(0, queryAt);
    if (path.front() != '/') path = u.Path.substr(0, u.Path.rfind('/') + 1) + path;
    return authority + RemoveDotSegments(path) + query;
}

THTTPDownloadWorker::THTTPDownloadWorker(TDownloader* owner)
    : THTTPDownloadWorker(owner, std::make_unique<THTTPClient>()) {}

THTTPDownloadWorker::THTTPDownloadWorker(TDownloader* owner, std::unique_ptr<THTTPClient> client)
    : TDownloadWorker(owner, &client->Sock(), &client->Document()), fHTTPClient(std::move(client)) {
    fSock->OnStatus = [this](TBlockingSocket& sender, TSocketHookReason reason,
                             const std::string& value) {
        HandleSocketStatus(sender, reason, value);
    };
    fSock->OnMonitor = [this](TBlockingSocket& sender, bool writing, const void* buffer,
                              std::int32_t len) {
        HandleSocketMonitor(sender, writing, buffer, len);
    };
    // The client's connect sequence drops options set before the socket exists; a
    // receive buffer size asked for is applied as soon as the system socket is created.
    fSock->OnCreateSocket = [this](TBlockingSocket& sender) {
        if (fSizeRecvBuffer > 0) sender.SetSizeRecvBuffer(fSizeRecvBuffer);
    };
}

THTTPDownloadWorker::~THTTPDownloadWorker() {
    // The socket goes with the client: detach from it before the base class looks at it.
    fSock->OnStatus = nullptr;
    fSock->OnMonitor = nullptr;
    fSock->OnCreateSocket = nullptr;
    fSock = nullptr;
    fDocument = nullptr;
}

void THTTPDownloadWorker::ApplyProxy() {
    const auto proxy = ChooseProxy(fDownloadUrl, fProxy);
    fHTTPClient->SetProxyHost(proxy ? proxy->Host : "");
    fHTTPClient->SetProxyPort(proxy ? proxy->Port : kDefaultProxyPort);
    fHTTPClient->SetProxyUser(proxy ? proxy->User : "");
    fHTTPClient->SetProxyPass(proxy ? proxy->Pass : "");
}

std::string THTTPDownloadWorker::ProbeFileName() {
    fHTTPClient->Clear();
    fHTTPClient->SetRangeEnd(1024);
    fProbing = true;
    try {
        fHTTPClient->HTTPMethod("GET", fDownloadUrl);
    } catch (...) {
        fProbing = false;
        throw;
    }
    fProbing = false;
    for (const auto& line : fHTTPClient->Headers()) {
        const auto at = line.find("filename=");
        if (at != std::string::npos) return FileNameValue(line.substr(at + 9));
    }
    return {};
}

std::string THTTPDownloadWorker::WorkingFileName() {
    std::string name = fDownloadNomeArq;
    if (name.empty()) {
        name = FileNameFromUrl(fDownloadUrl);
        if (name.empty()) name = ProbeFileName();
        // A name chosen by the URL or the server must stay inside the destination folder.
        if (!IsPlainFileName(name)) name.clear();
        if (!name.empty()) name += kPartSuffix;
    }
    if (!name.empty() && !EndsWith(name, kPartSuffix)) name += kPartSuffix;
    return name;
}

void THTTPDownloadWorker::StartDownload() {
    ApplyProxy();
    if (fDownloadStatus != stRedirect) {
        fPartName = WorkingFileName();
        // Stopped or paused while the server was asked for the name.
        if (Stopping()) return;
        if (fPartName.empty())
            throw platform::Exception("Favor informar o nome do arquivo para download!");
    }
    fFilePart = fPartName;
    PrepareWorkingFile();

    fHTTPClient->Clear();
    fHTTPClient->SetRangeStart(fBytesResumed);
    BeginRequest();
    fRangeReachesEnd = true;
    if (fOnBeforeDownload) fOnBeforeDownload(*this);
    fHTTPClient->HTTPMethod("GET", fDownloadUrl);
    if (!fRedirectUrl.empty()) {
        // The answer sent the transfer elsewhere: the same working file continues there.
        fDownloadUrl = std::exchange(fRedirectUrl, std::string());
        StartDownload();
    }
    if (fOnAfterDownload) fOnAfterDownload(*this);
}

std::string THTTPDownloadWorker::FailureText() const {
    const std::int32_t code = fHTTPClient->ResultCode();
    // 500 without a reason is the client's mark of a request that got no status line.
    const bool answered = code != 0 && (code != 500 || !fHTTPClient->ResultString().empty());
    if (answered && code != 200 && code != 206) {
        std::string status = std::to_string(code);
        if (!fHTTPClient->ResultString().empty()) status += " " + fHTTPClient->ResultString();
        // Through a proxy, the answer came from it (a refusal of its own, or the server's
        // answer passed on): the proxy is named too.
        const std::string& proxy = fHTTPClient->ProxyHost();
        const std::string via = proxy.empty()
                                    ? std::string()
                                    : ", pelo proxy " + proxy + ":" + fHTTPClient->ProxyPort();
        return "o servidor respondeu " + status + " (" + UrlWithoutCredentials(fDownloadUrl) + via +
               ")";
    }
    return TDownloadWorker::FailureText();
}

bool THTTPDownloadWorker::FollowRedirect() {
    if (fRedirects >= kMaxRedirects) return false;
    const auto location = HeaderValue(fHTTPClient->Headers(), "Location");
    if (!location || location->empty()) return false;
    std::string url = ResolveRedirectUrl(fDownloadUrl, *location);
    // Only to another web address: any other scheme would be fetched as plain HTTP.
    const std::string scheme = UpperCase(SplitUrl(url).Protocol);
    if (scheme != "HTTP" && scheme != "HTTPS") return false;
    // From an encrypted address only to another one: going on in plain text would drop
    // the protection the address asked for.
    if (scheme == "HTTP" && UpperCase(SplitUrl(fDownloadUrl).Protocol) == "HTTPS") return false;
    ++fRedirects;
    fCloseHandled = true;
    fDownloadStatus = stRedirect;
    fDocument->Clear();
    CloseWorkingFile();
    fRedirectUrl = std::move(url);
    return true;
}

bool THTTPDownloadWorker::DecideBody() {
    const auto& headers = fHTTPClient->Headers();
    const bool ranged = fBytesResumed > 0;
    fRangeReachesEnd = true;
    switch (fResultCode) {
        case 200:
            // The whole file, also when a range was asked for and ignored: start over.
            if (ranged) RestartWorkingFile();
            return true;
        case 206: {
            const auto range = ParseContentRange(headers);
            if (range && range->first && *range->first == fBytesResumed) {
                fRangeReachesEnd = !range->total || *range->last + 1 >= *range->total;
                return true;
            }
            // A piece from elsewhere cannot continue the working file: start over.
            RestartWorkingFile();
            return false;
        }
        case 416:
            if (ranged) {
                // Nothing after the working file's end: it is whole when the server's size
                // matches, else it is not this file and the next attempt starts over.
                const auto range = ParseContentRange(headers);
                if (range && range->total && *range->total == fBytesResumed)
                    fFileAlreadyWhole = true;
                else
                    RestartWorkingFile();
            }
            return false;
        default:
            return false;
    }
}

void THTTPDownloadWorker::HandleSocketStatus(TBlockingSocket& Sender, TSocketHookReason Reason,
                                             const std::string& Value) {
    fResultCode = fHTTPClient->ResultCode();
    fDownloadSize = fHTTPClient->DownloadSize();
    if (fProbing) {
        // The name probe only passes its connection's notifications on.
        if (Reason == hrConnect || (Reason == hrSocketClose && fResultCode != 500))
            NotifyStatus(Sender, Reason);
        return;
    }
    if (Reason == hrSocketClose && !fCloseHandled) {
        // The client sets 500 when a request begins, so this swallows the close that
        // precedes every connect (and a real 500 answer), unless the application stopped
        // or paused the transfer.
        if (fResultCode == 500 && !Stopping()) return;
        if (IsRedirect(fResultCode) && !Stopping() && FollowRedirect()) return;
    }
    TDownloadWorker::HandleSocketStatus(Sender, Reason, Value);
}

}  // namespace download

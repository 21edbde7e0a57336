// The HTTP worker of the download component: one GET through its own THTTPClient, the
// body streamed into <DownloadNomeArq>.part from the socket's hooks, resumed with a Range
// request when the working file exists, redirects followed, and the working file renamed
// to the target name once the whole file is in.
#pragma once

#include <memory>
#include <string>

#include "download/DownloadWorker.h"
#include "download/HttpClient.h"

namespace download {

// The URL a redirect's Location leads to, resolved against the URL that was requested:
// absolute URLs stay as they are; "//host/...", "/path", "?query" and relative paths
// are taken relative to `base`, with "." and ".." segments removed.
std::string ResolveRedirectUrl(const std::string& base, const std::string& location);

class THTTPDownloadWorker : public TDownloadWorker {
  public:
    // Redirects followed in a row before the transfer gives up.
    static constexpr int kMaxRedirects = 10;

    explicit THTTPDownloadWorker(TDownloader* owner);
    ~THTTPDownloadWorker() override;

    void HandleSocketStatus(TBlockingSocket& Sender, TSocketHookReason Reason,
                            const std::string& Value) override;
    void StartDownload() override;
    // The server's answer when it was no success ("o servidor respondeu 404 Not Found
    // (url)"), else the base worker's text.
    std::string FailureText() const override;

    THTTPClient& HTTPClient() { return *fHTTPClient; }

  protected:
    bool DecideBody() override;
    bool BodyComplete() const override { return fHTTPClient->BodyComplete(); }
    bool CompletesFile() const override { return fRangeReachesEnd; }

  private:
    THTTPDownloadWorker(TDownloader* owner, std::unique_ptr<THTTPClient> client);

    // The working file's name (with ".part") from DownloadNomeArq, the URL, or the
    // server's "filename=" answer to a short probe request.
    std::string WorkingFileName();
    std::string ProbeFileName();
    // The proxy for the URL about to be fetched (decided again for every redirect).
    void ApplyProxy();
    bool FollowRedirect();

    std::unique_ptr<THTTPClient> fHTTPClient;
    std::string fPartName;     // the working file's bare name, kept across redirects
    std::string fRedirectUrl;  // where the answer just closed sends the transfer
    int fRedirects = 0;
    bool fProbing = false;
    bool fRangeReachesEnd = true;
};

}  // namespace download

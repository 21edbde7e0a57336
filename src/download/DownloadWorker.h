// The download worker: one transfer of the download component. It is driven entirely
// by the socket's two hooks: the status hook starts the timing, completes the transfer
// (renaming the working file to the target name) and follows redirects; the monitor hook
// counts the received bytes, moves the received body into the working file, reports
// progress, carries out stop and pause requests and pumps the application's messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "download/BlockingSocket.h"
#include "platform/fs.h"
#include "platform/memstream.h"

namespace download {

class TDownloader;
class TDownloadWorker;

enum TDownloadStatus : std::uint8_t {
    stNone = 0,  // fresh transfer; the working file was created empty
    stStop,      // the application asked to stop; the working file is deleted
    stDownload,  // body bytes are flowing (or the component has been started)
    stPause,     // the application asked to pause; the working file stays for a resume
    stResume,    // a working file of an earlier attempt exists; the transfer continues after it
    stRedirect,  // the server sent the transfer elsewhere and the worker follows
};

enum TDownloadProtocolo : std::uint8_t { protNenhum = 0, protHTTP, protFTP };

struct TDownloadProxy {
    std::string ProxyHost;
    std::string ProxyPort;
    std::string ProxyUser;
    std::string ProxyPass;
};

struct TDownloadFTP {
    std::string FtpHost;
    std::string FtpPort;
    std::string FtpUser;
    std::string FtpPass;
};

// Byte counts are 64-bit inside; the events carry them as 32-bit values, saturated.
using TDownloadHookStatus =
    std::function<void(TBlockingSocket& Sender, TSocketHookReason Reason,
                       std::int32_t BytesToDownload, std::int32_t BytesDownloaded)>;
// AverageSpeed in kilobytes (1024 bytes) per second; Hour and Min of the elapsed time;
// Sec the estimated remaining seconds (the elapsed seconds while no speed is known).
using TDownloadHookMonitor = std::function<void(
    TBlockingSocket& Sender, std::int32_t BytesToDownload, std::int32_t BytesDownloaded,
    double AverageSpeed, std::uint16_t Hour, std::uint16_t Min, std::uint16_t Sec)>;
using TDownloadStatusEvent =
    std::function<void(TDownloadWorker& Sender, TDownloadStatus DownloadStatus)>;
using TBeforeDownloadEvent = std::function<void(TDownloadWorker& Sender)>;
using TAfterDownloadEvent = std::function<void(TDownloadWorker& Sender)>;
// The application's message pumping, called after every received block.
using TProcessMessages = std::function<void()>;

// A 64-bit count as a 32-bit event parameter: values outside the range saturate.
std::int32_t SaturateToInt32(std::int64_t value);
// The remaining-time estimate of the monitor event: (toDownload - downloaded) / 1024 /
// averageSpeed seconds, truncated toward zero and held in 16 bits: from 0 to 65535.
std::uint16_t EstimateSeconds(std::int64_t toDownload, std::int64_t downloaded,
                              double averageSpeed);
// The time since timing began, for the monitor event: whole hours (every day counted),
// minutes of the hour, whole seconds, the 16-bit values held at 65535; and the exact
// seconds, for the speed.
struct TElapsed {
    std::uint16_t Hour = 0;
    std::uint16_t Min = 0;
    std::uint16_t Sec = 0;
    double Seconds = 0;
};
TElapsed ElapsedOf(std::chrono::milliseconds span);
// A name that can only denote a file inside the destination folder: not empty, no path
// separator or drive colon, not "." or "..", no control character; dots inside a name
// ("app..zip") are part of it.
bool IsPlainFileName(const std::string& name);

class TDownloadWorker {
  public:
    // Raises "Essa Classe deve ser instanciada por TDownloader" without an owner.
    explicit TDownloadWorker(TDownloader* owner);
    virtual ~TDownloadWorker();
    TDownloadWorker(const TDownloadWorker&) = delete;
    TDownloadWorker& operator=(const TDownloadWorker&) = delete;

    virtual void HandleSocketStatus(TBlockingSocket& Sender, TSocketHookReason Reason,
                                    const std::string& Value);
    virtual void HandleSocketMonitor(TBlockingSocket& Sender, bool Writing, const void* Buffer,
                                     std::int32_t Len);
    // Runs one transfer to its end; nothing in the base worker.
    virtual void StartDownload() {}

    // Settings forwarded by the component.
    void SetDownloadDest(const std::string& value) { fDownloadDest = value; }
    void SetDownloadUrl(const std::string& value) { fDownloadUrl = value; }
    void SetDownloadNomeArq(const std::string& value) { fDownloadNomeArq = value; }
    void SetProxy(const TDownloadProxy& value) { fProxy = value; }
    void SetSizeRecvBuffer(std::int32_t value);
    void SetOnBeforeDownload(TBeforeDownloadEvent value) { fOnBeforeDownload = std::move(value); }
    void SetOnAfterDownload(TAfterDownloadEvent value) { fOnAfterDownload = std::move(value); }
    void SetOnHookStatus(TDownloadHookStatus value) { fOnHookStatus = std::move(value); }
    void SetOnHookMonitor(TDownloadHookMonitor value) { fOnHookMonitor = std::move(value); }
    void SetOnDownloadStatus(TDownloadStatusEvent value) { fOnDownloadStatus = std::move(value); }
    void SetProcessMessages(TProcessMessages value) { fProcessMessages = std::move(value); }

    TDownloadStatus DownloadStatus() const { return fDownloadStatus; }
    // Stores the state and fires OnDownloadStatus.
    void SetDownloadStatus(TDownloadStatus value);

    // What the transfer has seen so far.
    std::int64_t BytesToDownload() const { return fBytesToDownload; }
    std::int64_t BytesDownloaded() const { return fBytesDownloaded; }
    std::int64_t BytesResumed() const { return fBytesResumed; }
    double AverageSpeed() const { return fAverageSpeed; }
    std::int32_t ResultCode() const { return fResultCode; }
    const std::string& DownloadUrl() const { return fDownloadUrl; }
    // The working file: its full path once the transfer has begun.
    const std::string& FilePart() const { return fFilePart; }
    // Why the transfer did not bring the file, for the person at the PC (Portuguese, with
    // the server's or the socket's own text): the last socket error with its code and the
    // URL, or that the transfer ended before the end of the file.
    virtual std::string FailureText() const;

  protected:
    // For workers of a protocol client: its socket and body buffer (neither owned).
    TDownloadWorker(TDownloader* owner, TTCPBlockingSocket* sock, platform::MemoryStream* document);

    // Opens the working file fFilePart inside the destination folder: resumes an
    // existing one, else creates it empty.
    void PrepareWorkingFile();
    // Moves the received body out of the buffer into the working file (only a body that
    // belongs there) and empties the buffer, so memory stays bounded.
    void FlushDocument();
    void CloseWorkingFile() { fFileStream.reset(); }
    // Truncates the working file: the transfer starts again from its first byte.
    void RestartWorkingFile();
    // Begins a request: forgets what the previous request of this worker decided.
    void BeginRequest();
    // The close handling: keep, complete or delete the working file, then notify.
    void HandleClose(TBlockingSocket& Sender);

    // Whether the body of the current answer goes into the working file; decided once
    // per answer, when its header is complete.
    bool BodyAccepted();
    virtual bool DecideBody();
    // Whether the body of the current answer arrived whole (length, last chunk or close).
    virtual bool BodyComplete() const { return true; }
    // Whether the working file holds the whole file once the body is in.
    virtual bool CompletesFile() const { return true; }

    bool Stopping() const { return fDownloadStatus == stStop || fDownloadStatus == stPause; }
    void NotifyStatus(TBlockingSocket& Sender, TSocketHookReason Reason);

    std::int64_t fBytesToDownload = 0;
    // When the first body block arrived, on the monotonic clock; empty = timing not begun.
    std::optional<std::chrono::steady_clock::time_point> fStartTime;
    double fAverageSpeed = 0;
    std::int32_t fSizeRecvBuffer = 0;
    std::string fDownloadDest;
    TDownloadHookStatus fOnHookStatus;
    TDownloadHookMonitor fOnHookMonitor;
    TDownloadStatusEvent fOnDownloadStatus;
    TDownloader* fOwner = nullptr;
    TDownloadProxy fProxy;
    TTCPBlockingSocket* fSock = nullptr;
    platform::MemoryStream* fDocument = nullptr;
    std::unique_ptr<platform::fs::FileStream> fFileStream;
    TDownloadStatus fDownloadStatus = stNone;
    std::int64_t fBytesDownloaded = 0;
    std::string fFilePart;
    std::int64_t fDownloadSize = 0;
    std::int32_t fResultCode = 0;
    std::string fDownloadUrl;
    std::string fDownloadNomeArq;
    std::int64_t fBytesResumed = 0;
    TBeforeDownloadEvent fOnBeforeDownload;
    TAfterDownloadEvent fOnAfterDownload;
    TProcessMessages fProcessMessages;

    // The last error the socket reported (hrError) during this transfer; 0: none.
    int fSocketError = 0;
    std::string fSocketErrorDesc;

    // Per request: the close was handled (later close notifications change nothing);
    // the body decision; the working file is already whole (nothing more to fetch).
    bool fCloseHandled = false;
    std::optional<bool> fBodyAccepted;
    bool fFileAlreadyWhole = false;
};

}  // namespace download

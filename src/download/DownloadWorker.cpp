#include "download/DownloadWorker.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "download/Downloader.h"
#include "download/NetUtil.h"
#include "platform/exception.h"

namespace download {

namespace {

constexpr const char* kPartSuffix = ".part";
bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::int32_t SaturateToInt32(std::int64_t value) {
    constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value < lo ? lo : value > hi ? hi : value);
}

std::uint16_t EstimateSeconds(std::int64_t toDownload, std::int64_t downloaded,
                              double averageSpeed) {
    const double seconds =
        std::trunc(static_cast<double>(toDownload - downloaded) / 1024.0 / averageSpeed);
    if (!(seconds > 0)) return 0;
    return static_cast<std::uint16_t>(std::min(seconds, 65535.0));
}

TElapsed ElapsedOf(std::chrono::milliseconds span) {
    const std::int64_t ms = std::max<std::int64_t>(span.count(), 0);
    const std::int64_t seconds = ms / 1000;
    constexpr std::int64_t kMax = std::numeric_limits<std::uint16_t>::max();
    return {static_cast<std::uint16_t>(std::min(seconds / 3600, kMax)),
            static_cast<std::uint16_t>(seconds / 60 % 60),
            static_cast<std::uint16_t>(std::min(seconds, kMax)), static_cast<double>(ms) / 1000.0};
}

bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':') return false;
    }
    return true;
}

TDownloadWorker::TDownloadWorker(TDownloader* owner) : TDownloadWorker(owner, nullptr, nullptr) {}

TDownloadWorker::TDownloadWorker(TDownloader* owner, TTCPBlockingSocket* sock,
                                 platform::MemoryStream* document)
    : fSock(sock), fDocument(document) {
    if (owner == nullptr)
        throw platform::Exception("Essa Classe deve ser instanciada por TDownloader");
    fOwner = owner;
    fProxy = owner->Proxy();
    fDownloadDest = owner->DownloadDest();
    fDownloadUrl = owner->DownloadUrl();
    fDownloadNomeArq = owner->DownloadNomeArq();
    fDownloadStatus = owner->DownloadStatus();
    fOnBeforeDownload = owner->OnBeforeDownload();
    fOnAfterDownload = owner->OnAfterDownload();
    fOnHookStatus = owner->OnHookStatus();
    fOnHookMonitor = owner->OnHookMonitor();
    fOnDownloadStatus = owner->OnDownloadStatus();
    fProcessMessages = owner->ProcessMessages();
    SetSizeRecvBuffer(owner->SizeRecvBuffer());
}

TDownloadWorker::~TDownloadWorker() {
    if (fSock != nullptr) {
        fSock->OnStatus = nullptr;
        fSock->OnMonitor = nullptr;
    }
    fSock = nullptr;
    fDocument = nullptr;
    fOwner = nullptr;
    fFileStream.reset();
}

void TDownloadWorker::SetSizeRecvBuffer(std::int32_t value) {
    fSizeRecvBuffer = value;
    // 0 means the system's default; asking the system for a 0-byte buffer would cripple
    // the connection.
    if (fSock != nullptr && value > 0) fSock->SetSizeRecvBuffer(value);
}

void TDownloadWorker::SetDownloadStatus(TDownloadStatus value) {
    fDownloadStatus = value;
    if (fOnDownloadStatus) fOnDownloadStatus(*this, value);
}

void TDownloadWorker::NotifyStatus(TBlockingSocket& Sender, TSocketHookReason Reason) {
    if (fOnHookStatus)
        fOnHookStatus(Sender, Reason, SaturateToInt32(fBytesToDownload),
                      SaturateToInt32(fBytesDownloaded));
}

void TDownloadWorker::PrepareWorkingFile() {
    std::string folder = Trim(fDownloadDest);
    if (!folder.empty() && folder.back() != platform::fs::kPathDelim)
        folder += platform::fs::kPathDelim;
    fFilePart = folder + fFilePart;
    fFileStream.reset();
    using platform::fs::FileStream;
    using platform::fs::OpenMode;
    using platform::fs::SeekOrigin;
    using platform::fs::ShareMode;
    if (platform::fs::FileExists(fFilePart)) {
        fDownloadStatus = stResume;
        fFileStream =
            std::make_unique<FileStream>(fFilePart, OpenMode::ReadWrite, ShareMode::Exclusive);
        fBytesResumed = fFileStream->Seek(0, SeekOrigin::End);
    } else {
        fDownloadStatus = stNone;
        fFileStream =
            std::make_unique<FileStream>(fFilePart, OpenMode::CreateNew, ShareMode::Exclusive);
        fFileStream->Seek(0, SeekOrigin::Begin);
        fBytesResumed = 0;
    }
}

void TDownloadWorker::RestartWorkingFile() {
    if (fFileStream) {
        fFileStream->SetSize(0);
        fFileStream->Seek(0, platform::fs::SeekOrigin::Begin);
    }
    fBytesResumed = 0;
}

void TDownloadWorker::BeginRequest() {
    fCloseHandled = false;
    fBodyAccepted.reset();
    fFileAlreadyWhole = false;
}

bool TDownloadWorker::DecideBody() {
    return fResultCode == 125 || fResultCode == 150 || fResultCode == 200 || fResultCode == 206;
}

bool TDownloadWorker::BodyAccepted() {
    if (!fBodyAccepted) fBodyAccepted = DecideBody();
    return *fBodyAccepted;
}

void TDownloadWorker::FlushDocument() {
    if (fDocument == nullptr) return;
    const std::int64_t n = fDocument->Size();
    if (n > 0 && fFileStream && BodyAccepted()) {
        // The working file is only ever written at its end, where its position stays.
        fFileStream->Write(fDocument->Bytes().data(), static_cast<std::size_t>(n));
    }
    // Written, or not part of the file (an error page, a redirect's body): either way the
    // bytes leave memory. The client keeps appending at the (new) end.
    fDocument->Clear();
}

void TDownloadWorker::HandleSocketMonitor(TBlockingSocket& Sender, bool Writing, const void*,
                                          std::int32_t Len) {
    if (Writing) return;
    fBytesDownloaded += Len;
    if (fDocument != nullptr && fDocument->Size() > 0) FlushDocument();

    // Measured on the monotonic clock: midnight or a change of the system's clock during
    // the transfer does not disturb the speed and the estimate. Before the first body block
    // nothing is timed yet.
    const TElapsed elapsed =
        ElapsedOf(fStartTime ? std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - *fStartTime)
                             : std::chrono::milliseconds(0));
    if (elapsed.Seconds > 0)
        fAverageSpeed = static_cast<double>(fBytesDownloaded) / 1024.0 / elapsed.Seconds;
    std::uint16_t sec = elapsed.Sec;
    if (fAverageSpeed > 0) sec = EstimateSeconds(fBytesToDownload, fBytesDownloaded, fAverageSpeed);

    // A close re-entered while the socket is already closing only ends its drain.
    if (Stopping() && fSock != nullptr) fSock->CloseSocket();

    if (fOnHookMonitor)
        fOnHookMonitor(Sender, SaturateToInt32(fBytesToDownload), SaturateToInt32(fBytesDownloaded),
                       fAverageSpeed, elapsed.Hour, elapsed.Min, sec);
    if (fProcessMessages) fProcessMessages();
}

void TDownloadWorker::HandleClose(TBlockingSocket& Sender) {
    // After a stop or pause the connection may report its close more than once; the
    // first one settles the working file.
    if (fCloseHandled) return;
    fCloseHandled = true;

    if (fFileStream) {
        // The rest of the body goes to the file once its header is known to be complete
        // (body bytes arrived, or the answer ended normally); a header cut short says
        // nothing about where its bytes belong.
        const bool bodyBegun = fDocument != nullptr && fDocument->Size() > 0;
        if ((bodyBegun || BodyComplete()) && BodyAccepted()) FlushDocument();
        if (fDocument != nullptr) fDocument->Clear();
        CloseWorkingFile();
    }

    if (fDownloadStatus == stStop) {
        if (platform::fs::FileExists(fFilePart) && !platform::fs::RemoveFile(fFilePart))
            throw platform::Exception("Não foi possível excluir o arquivo: " + fFilePart);
    } else if (!Stopping() && fDownloadStatus != stRedirect && EndsWith(fFilePart, kPartSuffix)) {
        const bool success = fResultCode == 200 || fResultCode == 206 || fResultCode == 226;
        const bool whole = fFileAlreadyWhole || (success && fBodyAccepted.value_or(false) &&
                                                 BodyComplete() && CompletesFile());
        if (whole) {
            const std::string final = fFilePart.substr(0, fFilePart.size() - 5);
            if (platform::fs::FileExists(final) && platform::fs::FileExists(fFilePart) &&
                !platform::fs::RemoveFile(final))
                throw platform::Exception("Não foi possível excluir o arquivo: " + final);
            if (platform::fs::FileExists(fFilePart) && !platform::fs::RenameFile(fFilePart, final))
                throw platform::Exception("Não foi possível renomear o arquivo: " + fFilePart +
                                          " para " + final);
        }
    }
    NotifyStatus(Sender, hrSocketClose);
}

std::string TDownloadWorker::FailureText() const {
    const std::string url = " (" + UrlWithoutCredentials(fDownloadUrl) + ")";
    if (fSocketError != 0)
        return "erro de conexão " + std::to_string(fSocketError) + ": " + fSocketErrorDesc + url;
    return "a transferência terminou antes do fim do arquivo" + url;
}

void TDownloadWorker::HandleSocketStatus(TBlockingSocket& Sender, TSocketHookReason Reason,
                                         const std::string& Value) {
    switch (Reason) {
        case hrError:
            // "code,description"
            fSocketError = static_cast<int>(ParseDecimal(TextBefore(Value, ",")).value_or(-1));
            fSocketErrorDesc = TextAfter(Value, ",");
            break;
        case hrSocketClose:
            HandleClose(Sender);
            break;
        case hrConnect:
            NotifyStatus(Sender, hrConnect);
            break;
        case hrReadCount:
            if ((fDownloadStatus == stNone || fDownloadStatus == stResume) && fDownloadSize != 0) {
                // The body is flowing, so the answer's header is complete: decide now where
                // its bytes go (a restart from zero resets the resumed count).
                BodyAccepted();
                if (fDownloadStatus == stNone || !fStartTime) {
                    fStartTime = std::chrono::steady_clock::now();
                    fAverageSpeed = 0;
                }
                fDownloadStatus = stDownload;
                fBytesDownloaded = fBytesResumed;
                fBytesToDownload = fBytesResumed + fDownloadSize;
                NotifyStatus(Sender, hrReadCount);
            }
            break;
        default:
            break;
    }
}

}  // namespace download

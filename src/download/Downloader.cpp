#include "download/Downloader.h"

#include "download/HTTPDownloadWorker.h"
#include "platform/exception.h"

namespace download {

TDownloader::TDownloader() {
    fDown = std::make_unique<TDownloadWorker>(this);
}

TDownloader::~TDownloader() = default;

void TDownloader::StartDownload() {
    if (fProtocolo == protNenhum)
        throw platform::Exception(
            "Antes de iniciar o download, defina o protocolo a ser usado HTTP ou FTP!");
    if (fProtocolo == protFTP)
        throw platform::Exception("Download por FTP não está disponível nesta versão!");
    fDown.reset();
    // A stop or pause asked of the previous transfer does not carry over to this one.
    if (fDownloadStatus == stStop || fDownloadStatus == stPause) fDownloadStatus = stDownload;
    fDown = std::make_unique<THTTPDownloadWorker>(this);
    fDownloadStatus = stDownload;
    fDown->StartDownload();
}

void TDownloader::SetDownloadDest(const std::string& value) {
    fDownloadDest = value;
    fDown->SetDownloadDest(value);
}

void TDownloader::SetDownloadUrl(const std::string& value) {
    fDownloadUrl = value;
    fDown->SetDownloadUrl(value);
}

void TDownloader::SetDownloadNomeArq(const std::string& value) {
    fDownloadNomeArq = value;
    fDown->SetDownloadNomeArq(value);
}

void TDownloader::SetSizeRecvBuffer(std::int32_t value) {
    fSizeRecvBuffer = value;
    fDown->SetSizeRecvBuffer(value);
}

void TDownloader::SetProxy(const TDownloadProxy& value) {
    fProxy = value;
    fDown->SetProxy(value);
}

void TDownloader::SetDownloadStatus(TDownloadStatus value) {
    fDownloadStatus = value;
    fDown->SetDownloadStatus(value);
}

void TDownloader::SetOnBeforeDownload(TBeforeDownloadEvent value) {
    fOnBeforeDownload = value;
    fDown->SetOnBeforeDownload(std::move(value));
}

void TDownloader::SetOnAfterDownload(TAfterDownloadEvent value) {
    fOnAfterDownload = value;
    fDown->SetOnAfterDownload(std::move(value));
}

void TDownloader::SetOnHookStatus(TDownloadHookStatus value) {
    fOnHookStatus = value;
    fDown->SetOnHookStatus(std::move(value));
}

void TDownloader::SetOnHookMonitor(TDownloadHookMonitor value) {
    fOnHookMonitor = value;
    fDown->SetOnHookMonitor(std::move(value));
}

void TDownloader::SetOnDownloadStatus(TDownloadStatusEvent value) {
    fOnDownloadStatus = value;
    fDown->SetOnDownloadStatus(std::move(value));
}

void TDownloader::SetProcessMessages(TProcessMessages value) {
    fProcessMessages = value;
    fDown->SetProcessMessages(std::move(value));
}

}  // namespace download

// The download component: fetches one file per StartDownload from a URL into a folder
// through a resumable working file (<DownloadNomeArq>.part), reports progress through
// OnHookStatus and OnHookMonitor, and renames the working file to the target name when
// the transfer is complete. Everything runs on the caller's thread; the application stays
// responsive through ProcessMessages, called after every received block, from where it
// may Stop or Pause the transfer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "download/DownloadWorker.h"

namespace download {

class TDownloader {
  public:
    TDownloader();
    ~TDownloader();
    TDownloader(const TDownloader&) = delete;
    TDownloader& operator=(const TDownloader&) = delete;

    // Runs one transfer to its end (completed, failed, stopped or paused). Raises
    // "Antes de iniciar o download, defina o protocolo a ser usado HTTP ou FTP!" without
    // a protocol, "Favor informar o nome do arquivo para download!" without a usable
    // file name, and the file system's errors. Only protHTTP transfers are available.
    void StartDownload();
    // Requests from the application during a transfer (e.g. from OnHookMonitor or the
    // message pumping): the connection is closed at the next received block; Stop deletes
    // the working file, Pause keeps it for the next StartDownload to resume.
    void Stop() { SetDownloadStatus(stStop); }
    void Pause() { SetDownloadStatus(stPause); }

    const std::string& DownloadDest() const { return fDownloadDest; }
    void SetDownloadDest(const std::string& value);
    const std::string& DownloadUrl() const { return fDownloadUrl; }
    void SetDownloadUrl(const std::string& value);
    const std::string& DownloadNomeArq() const { return fDownloadNomeArq; }
    void SetDownloadNomeArq(const std::string& value);
    std::int32_t SizeRecvBuffer() const { return fSizeRecvBuffer; }
    void SetSizeRecvBuffer(std::int32_t value);
    const TDownloadProxy& Proxy() const { return fProxy; }
    void SetProxy(const TDownloadProxy& value);
    const TDownloadFTP& FTP() const { return fFTP; }
    void SetFTP(const TDownloadFTP& value) { fFTP = value; }
    // Takes effect at the next StartDownload.
    TDownloadProtocolo Protocolo() const { return fProtocolo; }
    void SetProtocolo(TDownloadProtocolo value) { fProtocolo = value; }
    // The application's view of the transfer: StartDownload sets stDownload; only the
    // application changes it afterwards (Stop, Pause). Setting it fires OnDownloadStatus.
    TDownloadStatus DownloadStatus() const { return fDownloadStatus; }
    void SetDownloadStatus(TDownloadStatus value);

    const TBeforeDownloadEvent& OnBeforeDownload() const { return fOnBeforeDownload; }
    void SetOnBeforeDownload(TBeforeDownloadEvent value);
    const TAfterDownloadEvent& OnAfterDownload() const { return fOnAfterDownload; }
    void SetOnAfterDownload(TAfterDownloadEvent value);
    const TDownloadHookStatus& OnHookStatus() const { return fOnHookStatus; }
    void SetOnHookStatus(TDownloadHookStatus value);
    const TDownloadHookMonitor& OnHookMonitor() const { return fOnHookMonitor; }
    void SetOnHookMonitor(TDownloadHookMonitor value);
    const TDownloadStatusEvent& OnDownloadStatus() const { return fOnDownloadStatus; }
    void SetOnDownloadStatus(TDownloadStatusEvent value);
    // The application's message pumping (none by default).
    const TProcessMessages& ProcessMessages() const { return fProcessMessages; }
    void SetProcessMessages(TProcessMessages value);

    // The current worker (a base-class worker until the first StartDownload).
    TDownloadWorker& Down() { return *fDown; }

  private:
    std::unique_ptr<TDownloadWorker> fDown;
    TDownloadProtocolo fProtocolo = protNenhum;
    std::string fDownloadDest;
    TDownloadStatus fDownloadStatus = stNone;
    std::string fDownloadUrl;
    std::string fDownloadNomeArq;
    TDownloadProxy fProxy;
    std::int32_t fSizeRecvBuffer = 0;
    TDownloadFTP fFTP;
    TBeforeDownloadEvent fOnBeforeDownload;
    TDownloadHookStatus fOnHookStatus;
    TDownloadStatusEvent fOnDownloadStatus;
    TAfterDownloadEvent fOnAfterDownload;
    TDownloadHookMonitor fOnHookMonitor;
    TProcessMessages fProcessMessages;
};

}  // namespace download

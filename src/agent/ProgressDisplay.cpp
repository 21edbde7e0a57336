// Progress and status display: the download component's events drive the progress bar
// `pb` and the label `lblStatus`; while a transfer runs, a status line on the terminal
// mirrors both, and the message queue is pumped so "Fechar" is handled mid-transfer.
#include "agent/StatusText.h"
#include "agent/uTravikVersoes.h"
#include "platform/statusline.h"

namespace agent {

void TfTravikVersoes::Downloader1HookStatus(download::TBlockingSocket& /*Sender*/,
                                            download::TSocketHookReason Reason,
                                            std::int32_t BytesToDownload,
                                            std::int32_t BytesDownloaded) {
    switch (Reason) {
        case download::hrSocketClose:
            if (Downloader1.DownloadStatus() == download::stStop) {
                pb.SetTotalParts(0);
                lblStatus.SetCaption(kDownloadEncerrado);
            } else if (Downloader1.DownloadStatus() == download::stPause) {
                lblStatus.SetCaption(kDownloadPausado);
            }
            break;
        case download::hrConnect:
            pb.SetTotalParts(0);
            break;
        case download::hrReadCount:
            pb.SetTotalParts(BytesToDownload);
            pb.SetPartsComplete(BytesDownloaded);
            break;
        default:
            break;
    }
}

void TfTravikVersoes::Downloader1HookMonitor(download::TBlockingSocket& /*Sender*/,
                                             std::int32_t /*BytesToDownload*/,
                                             std::int32_t BytesDownloaded, double /*AverageSpeed*/,
                                             std::uint16_t /*Hour*/, std::uint16_t /*Min*/,
                                             std::uint16_t Sec) {
    pb.SetPartsComplete(BytesDownloaded);
    lblStatus.SetCaption(RemainingTimeText(Sec));
    ProcessarMensagens();
}

void TfTravikVersoes::ProcessarMensagens() {
    App().ProcessMessages();
    // "Fechar" (the tray menu, or SIGINT/SIGTERM) ended the application: pause the
    // transfer, so its working file stays and the next run resumes it.
    if (App().Terminated() && fTransferindo && Downloader1.DownloadStatus() != download::stPause)
        Downloader1.Pause();
}

void TfTravikVersoes::TransferirComProgresso() {
    struct Transfer {
        TfTravikVersoes& form;
        explicit Transfer(TfTravikVersoes& f) : form(f) { form.fTransferindo = true; }
        ~Transfer() {
            form.fTransferindo = false;
            form.fLinhaProgresso.clear();
            platform::statusline::Finish();
        }
    } transfer(*this);
    Downloader1.StartDownload();
}

void TfTravikVersoes::MostrarProgresso() {
    if (!fTransferindo) return;
    std::string line = ProgressLineText(pb.Percent(), lblStatus.Caption());
    if (line == fLinhaProgresso) return;
    fLinhaProgresso = std::move(line);
    platform::statusline::Show(fLinhaProgresso);
}

}  // namespace agent

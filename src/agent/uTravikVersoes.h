// The agent's main form: its state, its components and the update run.
#pragma once

#include <cstdint>
#include <string>

#include "agent/ProgressBar.h"
#include "download/Downloader.h"
#include "platform/component.h"
#include "platform/controls.h"
#include "platform/form.h"
#include "platform/imagelist.h"
#include "platform/menu.h"
#include "platform/timer.h"
#include "support/AlertWindowManager.h"
#include "support/SettingsStore.h"
#include "support/TrayIcon.h"

namespace agent {

class TfTravikVersoes : public platform::Form {
  public:
    explicit TfTravikVersoes(platform::Application& app = platform::Application::Instance());
    ~TfTravikVersoes() override;

    // State of the agent.
    bool vbAbortar = false;
    bool vbDownloadOK = false;
    std::string vsVersaoAtual;
    std::string vsVersaoExecutavel;
    std::string vsPasta;
    int viIdSistema = 0;
    int viIdEmpresa = 0;

    // Components, in creation order.
    platform::Panel Panel1;
    TProgressBar pb;
    platform::Label lblStatus;
    platform::Panel Panel2;
    platform::Label Label1;
    platform::ImageList ImageList1;
    download::TDownloader Downloader1;
    platform::Timer Timer1;
    platform::PopupMenu PopupMenu1;
    platform::MenuItem Abrir1;
    platform::MenuItem N1;
    platform::MenuItem Fechar1;
    support::TSettingsStore SettingsStore1;
    support::TAlertWindowManager AlertWindowManager1;
    support::TTrayIcon TrayIcon1;

    // Event handlers.
    void FormCreate(platform::Component* Sender);
    void Timer1Timer(platform::Component* Sender);
    void Abrir1Click(platform::Component* Sender);
    void Fechar1Click(platform::Component* Sender);
    void Downloader1HookStatus(download::TBlockingSocket& Sender,
                               download::TSocketHookReason Reason, std::int32_t BytesToDownload,
                               std::int32_t BytesDownloaded);
    void Downloader1HookMonitor(download::TBlockingSocket& Sender, std::int32_t BytesToDownload,
                                std::int32_t BytesDownloaded, double AverageSpeed,
                                std::uint16_t Hour, std::uint16_t Min, std::uint16_t Sec);

    // Operations of the update run.
    void VerificarVersoes(const std::string& versaoAtual, const std::string& versaoExecutavel,
                          int idSistema, int idEmpresa, const std::string& pasta);
    // id_sistema, codigo_cliente and assinatura matter only to an agent built with the
    // publisher's keys: the signature must then cover the package for that row.
    void BaixarVersao(const std::string& vl_versao, const std::string& nome_versao,
                      const std::string& link_sistema, const std::string& md5_arquivo,
                      long long id_sistema, long long codigo_cliente,
                      const std::string& assinatura);
    std::string ObterEnderecoMAC();
    std::string MD5Arquivo(const std::string& arquivo);

  private:
    // Runs Downloader1's transfer with the progress line shown.
    void TransferirComProgresso();
    // Pumps the message queue during a transfer; pauses the transfer when that closed
    // the application ("Fechar").
    void ProcessarMensagens();
    // Redraws the progress line from pb and lblStatus while a transfer runs.
    void MostrarProgresso();

    bool fTransferindo = false;
    std::string fLinhaProgresso;
};

}  // namespace agent

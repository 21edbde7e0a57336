// The agent's main form: its state, its components and the update run.
#pragma once

#include <string>

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
    platform::Label lblStatus;
    platform::Panel Panel2;
    platform::Label Label1;
    platform::ImageList ImageList1;
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

    // Operations of the update run.
    void VerificarVersoes(const std::string& versaoAtual, const std::string& versaoExecutavel, int idSistema,
                          int idEmpresa, const std::string& pasta);
    void BaixarVersao(const std::string& vl_versao, const std::string& nome_versao, const std::string& link_sistema,
                      const std::string& md5_arquivo);
    std::string ObterEnderecoMAC();
    std::string MD5Arquivo(const std::string& arquivo);
};

}  // namespace agent

// The agent's main form: its state, its components and the update run.
#pragma once

#include <string>

#include "platform/component.h"
#include "platform/form.h"
#include "platform/timer.h"

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

    // Components.
    platform::Timer Timer1;

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

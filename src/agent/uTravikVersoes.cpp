#include "agent/uTravikVersoes.h"

#include "agent/Arguments.h"
#include "agent/RunSettings.h"
#include "platform/fs.h"

namespace agent {

TfTravikVersoes::TfTravikVersoes(platform::Application& app) : platform::Form(app), Timer1(app) {
    Name = "fTravikVersoes";
    Caption = "fTravikVersoes";
    Left = 0;
    Top = 0;
    ClientWidth = 431;
    ClientHeight = 112;
    Bordered = false;

    Timer1.Name = "Timer1";
    Timer1.SetEnabled(false);
    Timer1.SetInterval(StartDelayMilliseconds());
    Timer1.OnTimer = [this](platform::Component* sender) { Timer1Timer(sender); };

    OnCreate = [this](platform::Component* sender) { FormCreate(sender); };
    DoCreate();
}

TfTravikVersoes::~TfTravikVersoes() = default;

void TfTravikVersoes::FormCreate(platform::Component* /*Sender*/) {
    vbAbortar = false;
    for (int i = 1; i <= 5; ++i) {
        if (TrimArgument(App().ParamStr(i)).empty()) {
            vbAbortar = true;
            break;
        }
    }
    vsVersaoAtual = App().ParamStr(1);
    vsVersaoExecutavel = App().ParamStr(2);
    viIdSistema = ArgumentToInt(App().ParamStr(3));
    viIdEmpresa = ArgumentToInt(App().ParamStr(4));
    vsPasta = App().ParamStr(5);
    Timer1.SetEnabled(true);
}

void TfTravikVersoes::Timer1Timer(platform::Component* /*Sender*/) {
    Timer1.SetEnabled(false);
    vbDownloadOK = false;
    if (vbAbortar) {
        App().Terminate();
        return;
    }
    // A folder that cannot be created does not stop the run.
    if (!platform::fs::DirectoryExists(vsPasta)) platform::fs::ForceDirectories(vsPasta);
    VerificarVersoes(vsVersaoAtual, vsVersaoExecutavel, viIdSistema, viIdEmpresa, vsPasta);
    App().Terminate();
}

void TfTravikVersoes::Abrir1Click(platform::Component* /*Sender*/) { SetVisible(true); }

void TfTravikVersoes::Fechar1Click(platform::Component* /*Sender*/) { Close(); }

}  // namespace agent

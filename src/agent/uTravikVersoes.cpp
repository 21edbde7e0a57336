#include "agent/uTravikVersoes.h"

#include "agent/Arguments.h"
#include "agent/RunSettings.h"
#include "platform/fs.h"

namespace agent {

namespace {

constexpr const char* kAlertCaption = "Travik Versões";
constexpr const char* kAlertText =
    "Download Concluido. Feche e abra o sistema novamente para concluir a instalação.";

}  // namespace

TfTravikVersoes::TfTravikVersoes(platform::Application& app)
    : platform::Form(app), Timer1(app), TrayIcon1(*this) {
    Name = "fTravikVersoes";
    Caption = "fTravikVersoes";
    Left = 0;
    Top = 0;
    ClientWidth = 431;
    ClientHeight = 112;
    Bordered = false;

    Panel1.Name = "Panel1";
    Panel1.Alignment = platform::Align::alClient;
    Panel1.Lowered = true;
    Panel1.BorderWidth = 2;
    Panel1.BorderColor = platform::clBlack;
    Panel1.Gradient = true;

    pb.Name = "pb";
    pb.Parent = &Panel1;
    pb.Left = 16;
    pb.Top = 61;
    pb.Width = 393;
    pb.Height = 29;
    pb.BorderWidth = 0;
    pb.InteriorOffset = 0;
    pb.OnChange = [this](platform::Component*) { MostrarProgresso(); };

    lblStatus.Name = "lblStatus";
    lblStatus.Parent = &Panel1;
    lblStatus.Left = 16;
    lblStatus.Top = 92;
    lblStatus.OnChange = [this](platform::Component*) { MostrarProgresso(); };

    Panel2.Name = "Panel2";
    Panel2.Parent = &Panel1;
    Panel2.Alignment = platform::Align::alTop;
    Panel2.Height = 26;
    Panel2.Rounded = true;
    Panel2.Color = 3355443;

    Label1.Name = "Label1";
    Label1.Parent = &Panel2;
    Label1.Alignment = platform::Align::alClient;
    Label1.Centered = true;
    Label1.SetCaption("Travik download de Versões");
    Label1.ControlFont = platform::Font{"Tahoma", -19, true, platform::clYellow};

    for (platform::Control* control :
         std::initializer_list<platform::Control*>{&Panel1, &pb, &lblStatus, &Panel2, &Label1})
        AddControl(*control);

    ImageList1.Name = "ImageList1";
    ImageList1.Images = {"TRAVIK"};

    Downloader1.SetProtocolo(download::protHTTP);
    Downloader1.SetSizeRecvBuffer(0);
    Downloader1.SetOnHookStatus([this](download::TBlockingSocket& sender,
                                       download::TSocketHookReason reason, std::int32_t toDownload,
                                       std::int32_t downloaded) {
        Downloader1HookStatus(sender, reason, toDownload, downloaded);
    });
    Downloader1.SetOnHookMonitor([this](download::TBlockingSocket& sender, std::int32_t toDownload,
                                        std::int32_t downloaded, double speed, std::uint16_t hour,
                                        std::uint16_t min, std::uint16_t sec) {
        Downloader1HookMonitor(sender, toDownload, downloaded, speed, hour, min, sec);
    });
    Downloader1.SetProcessMessages([this] { ProcessarMensagens(); });

    Timer1.Name = "Timer1";
    Timer1.SetEnabled(false);
    Timer1.SetInterval(StartDelayMilliseconds());
    Timer1.OnTimer = [this](platform::Component* sender) { Timer1Timer(sender); };

    PopupMenu1.Name = "PopupMenu1";
    Abrir1.Name = "Abrir1";
    Abrir1.Caption = "Abrir";
    Abrir1.OnClick = [this](platform::Component* sender) { Abrir1Click(sender); };
    N1.Name = "N1";
    N1.Caption = "-";
    Fechar1.Name = "Fechar1";
    Fechar1.Caption = "Fechar";
    Fechar1.OnClick = [this](platform::Component* sender) { Fechar1Click(sender); };
    PopupMenu1.Items = {&Abrir1, &N1, &Fechar1};

    SettingsStore1.Name = "SettingsStore1";

    AlertWindowManager1.Name = "AlertWindowManager1";
    AlertWindowManager1.SkinName = "UserSkin";
    AlertWindowManager1.HidingAnimation = support::TAlertWindowAnimation::awaSlide;
    AlertWindowManager1.ShowButtons = false;
    AlertWindowManager1.CaptionFont = platform::Font{"Tahoma", -13, true, platform::clBlack};
    AlertWindowManager1.TextFont = platform::Font{"Tahoma", -11, false, platform::clBlack};
    AlertWindowManager1.NavigationPanelFont =
        platform::Font{"Tahoma", -11, false, platform::clBlack};
    AlertWindowManager1.AutoWidth = true;
    AlertWindowManager1.AutoHeight = true;

    TrayIcon1.Name = "TrayIcon1";
    TrayIcon1.HideOnStartup = true;
    TrayIcon1.Icons = &ImageList1;
    TrayIcon1.IconIndex = 0;
    TrayIcon1.PopupMenu = &PopupMenu1;

    // The components are set up: the tray icon takes its place, then OnCreate runs.
    TrayIcon1.Loaded();

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
    if (vbDownloadOK) AlertWindowManager1.Show(kAlertCaption, kAlertText, 0);
    App().Terminate();
}

void TfTravikVersoes::Abrir1Click(platform::Component* /*Sender*/) {
    SetVisible(true);
}

void TfTravikVersoes::Fechar1Click(platform::Component* /*Sender*/) {
    Close();
}

}  // namespace agent

// Package download and verification: make sure the version's package lies, intact, in
// the agent's folder, then record it in Atualizacao_retaguarda/versao.ini for the host
// application.
#include "agent/CompositeVersion.h"
#include "agent/MessageText.h"
#include "agent/PackageName.h"
#include "agent/PackageVerification.h"
#include "agent/uTravikVersoes.h"
#include "platform/exception.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace agent {

namespace {

// The error box after a package that could not be obtained: the first line names the
// file, the second gives the cause of the last attempt, so that the person (or the IT
// person) knows whether to fix the network or call the vendor.
[[noreturn]] void FalhaDoPacote(const std::string& arquivo, const std::string& motivo) {
    throw platform::Exception("Erro ao fazer o download do arquivo " + arquivo +
                              "\nMotivo: " + motivo);
}

// A server's or socket's text inside the box: no control character, no flood.
constexpr std::size_t kMotivoCharacters = 300;

}  // namespace

void TfTravikVersoes::BaixarVersao(const std::string& vl_versao, const std::string& nome_versao,
                                   const std::string& link_sistema,
                                   const std::string& md5_arquivo) {
    // The values come from the database: the name is joined to the agent's folder, the
    // link goes into the HTTP request, the version into the host application's INI file.
    try {
        ValidatePackageName(nome_versao);
    } catch (const platform::Exception& error) {
        FalhaDoPacote(QuotedForMessage(nome_versao), error.Message());
    }
    try {
        ValidatePackageLink(link_sistema);
        ValidatePublishedVersion(vl_versao);
    } catch (const platform::Exception& error) {
        FalhaDoPacote(nome_versao, error.Message());
    }
    const std::string pasta = platform::fs::ExtractFilePath(platform::fs::ApplicationExeName());
    const std::string arquivo = pasta + nome_versao;
    // The host application reads versao.ini in the ANSI code page: a path that the page
    // cannot hold could not be recorded there, so nothing is downloaded for it.
    platform::text::Utf8ToAnsi(arquivo);

    // What the last attempt learnt: the transfer's failure, or the digest of the file.
    std::string falhaTransferencia;
    std::string md5Obtido;
    const TPackageFiles files{
        .Exists = [&] { return platform::fs::FileExists(arquivo); },
        .Digest =
            [&] {
                md5Obtido = MD5Arquivo(arquivo);
                return md5Obtido;
            },
        .Delete = [&] { platform::fs::RemoveFile(arquivo); },
        .Download =
            [&] {
                Downloader1.SetDownloadDest(pasta);
                Downloader1.SetDownloadUrl(link_sistema);
                Downloader1.SetDownloadNomeArq(nome_versao);
                TransferirComProgresso();
                // "Fechar" during the transfer paused it: the working file stays for the
                // next run, and this run ends here without a message.
                if (App().Terminated()) throw platform::EAbort();
                falhaTransferencia =
                    platform::fs::FileExists(arquivo)
                        ? std::string()
                        : ShownInMessage(Downloader1.Down().FailureText(), kMotivoCharacters);
            },
    };
    if (!ObtainPackage(md5_arquivo, files)) {
        if (!falhaTransferencia.empty()) FalhaDoPacote(nome_versao, falhaTransferencia);
        std::string motivo =
            "MD5 esperado " +
            (md5_arquivo.empty() ? std::string("(vazio)") : ShownInMessage(md5_arquivo, 64)) +
            ", obtido " + md5Obtido;
        // A file with another content that stays blocks every download.
        if (platform::fs::FileExists(arquivo))
            motivo += "; o arquivo " + arquivo + " não pôde ser excluído";
        FalhaDoPacote(nome_versao, motivo);
    }

    SettingsStore1.SetPath(pasta + "Atualizacao_retaguarda" + platform::fs::kPathDelim +
                           "versao.ini");
    SettingsStore1.WriteString("ATUALIZACAO", "VERSAO", vl_versao);
    SettingsStore1.WriteString("ATUALIZACAO", "ARQUIVO", arquivo);
    vbDownloadOK = true;
}

}  // namespace agent

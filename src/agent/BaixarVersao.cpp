// Package download and verification: make sure the version's package lies, intact, in
// the agent's folder, then record it in Atualizacao_retaguarda/versao.ini for the host
// application.
#include "agent/CompositeVersion.h"
#include "agent/PackageName.h"
#include "agent/PackageVerification.h"
#include "agent/uTravikVersoes.h"
#include "platform/exception.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace agent {

void TfTravikVersoes::BaixarVersao(const std::string& vl_versao, const std::string& nome_versao,
                                   const std::string& link_sistema,
                                   const std::string& md5_arquivo) {
    // The values come from the database: the name is joined to the agent's folder, the
    // link goes into the HTTP request, the version into the host application's INI file.
    const std::string programa = platform::fs::ApplicationExeName();
    ValidatePackageName(nome_versao, platform::fs::ExtractFileName(programa));
    ValidatePackageLink(link_sistema);
    ValidatePublishedVersion(vl_versao);
    const std::string pasta = platform::fs::ExtractFilePath(programa);
    const std::string arquivo = pasta + nome_versao;
    // The host application reads versao.ini in the ANSI code page: a path that the page
    // cannot hold could not be recorded there, so nothing is downloaded for it.
    platform::text::Utf8ToAnsi(arquivo);

    const TPackageFiles files{
        .Exists = [&] { return platform::fs::FileExists(arquivo); },
        .Digest = [&] { return MD5Arquivo(arquivo); },
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
            },
    };
    if (!ObtainPackage(md5_arquivo, files))
        throw platform::Exception("Erro ao fazer o download do arquivo " + nome_versao);

    SettingsStore1.SetPath(pasta + "Atualizacao_retaguarda" + platform::fs::kPathDelim +
                           "versao.ini");
    SettingsStore1.WriteString("ATUALIZACAO", "VERSAO", vl_versao);
    SettingsStore1.WriteString("ATUALIZACAO", "ARQUIVO", arquivo);
    vbDownloadOK = true;
}

}  // namespace agent

// Package download and verification: make sure the version's package lies, intact (and,
// with the publisher's keys built in, signed for this row), in the agent's folder, then
// record it in Atualizacao_retaguarda/versao.ini for the host application.
#include "agent/CompositeVersion.h"
#include "agent/PackageName.h"
#include "agent/PackageSignature.h"
#include "agent/PackageVerification.h"
#include "agent/SignatureCheck.h"
#include "agent/SigningKeys.h"
#include "agent/uTravikVersoes.h"
#include "platform/exception.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/FileDigests.h"

namespace agent {

void TfTravikVersoes::BaixarVersao(const std::string& vl_versao, const std::string& nome_versao,
                                   const std::string& link_sistema, const std::string& md5_arquivo,
                                   long long id_sistema, long long codigo_cliente,
                                   const std::string& assinatura) {
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

    // With the publisher's keys built in, each digest pass also gives the SHA-256 that the
    // signature covers, from the same read of the file.
    const std::span<const std::string_view> keys = BuiltInSigningKeys();
    std::string sha256;
    const TPackageFiles files{
        .Exists = [&] { return platform::fs::FileExists(arquivo); },
        .Digest =
            [&] {
                if (keys.empty()) return MD5Arquivo(arquivo);
                support::FileDigests digests = support::DigestFile(arquivo);
                sha256 = std::move(digests.sha256);
                return digests.md5;
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
            },
    };
    if (!ObtainPackage(md5_arquivo, files))
        throw platform::Exception("Erro ao fazer o download do arquivo " + nome_versao);

    // The file that passed the digest check, also one already there, is taken only when the
    // publisher signed it for this row. Fetching it again cannot mend a signature: the run
    // ends here.
    if (!keys.empty()) {
        const std::string message =
            SignedPackageMessage(id_sistema, codigo_cliente, vl_versao, nome_versao, sha256);
        std::string error;
        switch (CheckSignature(keys, message, assinatura, error)) {
            case TSignatureVerdict::Accepted:
                break;
            case TSignatureVerdict::Refused:
                platform::fs::RemoveFile(arquivo);
                throw platform::Exception("Assinatura inválida do arquivo " + nome_versao);
            case TSignatureVerdict::Unverifiable:
                // The machine cannot check signatures at all (its cryptographic library is
                // missing): the package is kept for a run that can, and not recorded.
                throw platform::Exception("Não foi possível verificar a assinatura do arquivo " +
                                          nome_versao + " (" + error + ")");
        }
    }

    SettingsStore1.SetPath(pasta + "Atualizacao_retaguarda" + platform::fs::kPathDelim +
                           "versao.ini");
    SettingsStore1.WriteString("ATUALIZACAO", "VERSAO", vl_versao);
    SettingsStore1.WriteString("ATUALIZACAO", "ARQUIVO", arquivo);
    vbDownloadOK = true;
}

}  // namespace agent

// Package download and verification: make sure the version's package lies, intact (and,
// with the publisher's keys built in, signed for this row), in the agent's folder, then
// record it in Atualizacao_retaguarda/versao.ini for the host application.
#include "agent/CompositeVersion.h"
#include "agent/MessageText.h"
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
                                   const std::string& link_sistema, const std::string& md5_arquivo,
                                   long long id_sistema, long long codigo_cliente,
                                   const std::string& assinatura) {
    // The values come from the database: the name is joined to the agent's folder, the
    // link goes into the HTTP request, the version into the host application's INI file.
    const std::string programa = platform::fs::ApplicationExeName();
    try {
        ValidatePackageName(nome_versao, platform::fs::ExtractFileName(programa));
    } catch (const platform::Exception& error) {
        FalhaDoPacote(QuotedForMessage(nome_versao), error.Message());
    }
    try {
        ValidatePackageLink(link_sistema);
        ValidatePublishedVersion(vl_versao);
    } catch (const platform::Exception& error) {
        FalhaDoPacote(nome_versao, error.Message());
    }
    const std::string pasta = platform::fs::ExtractFilePath(programa);
    const std::string arquivo = pasta + nome_versao;
    // The host application reads versao.ini in the ANSI code page: a path that the page
    // cannot hold could not be recorded there, so nothing is downloaded for it.
    try {
        platform::text::Utf8ToAnsi(arquivo);
    } catch (const platform::text::EAnsiConversionError& error) {
        FalhaDoPacote(nome_versao,
                      "o arquivo não poderia ser registrado em versao.ini: " + error.Message());
    }

    // What the last attempt learnt: the transfer's failure, or the digest of the file.
    std::string falhaTransferencia;
    std::string md5Obtido;
    // With the publisher's keys built in, each digest pass also gives the SHA-256 that the
    // signature covers, from the same read of the file.
    const std::span<const std::string_view> keys = BuiltInSigningKeys();
    std::string sha256;
    const TPackageFiles files{
        .Exists = [&] { return platform::fs::FileExists(arquivo); },
        .Digest =
            [&] {
                if (keys.empty()) {
                    md5Obtido = MD5Arquivo(arquivo);
                } else {
                    support::FileDigests digests = support::DigestFile(arquivo);
                    sha256 = std::move(digests.sha256);
                    md5Obtido = std::move(digests.md5);
                }
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
                throw platform::Exception("Assinatura inválida do arquivo " + nome_versao +
                                          "\nMotivo: " + error);
            case TSignatureVerdict::Unverifiable:
                // The machine cannot check signatures at all (its cryptographic library is
                // missing): the package is kept for a run that can, and not recorded.
                FalhaDoPacote(nome_versao, "Não foi possível verificar a assinatura do arquivo " +
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

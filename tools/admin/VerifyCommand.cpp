// verify: does for one published row what an agent would do, without touching any
// installation, and reports each step.
#include "admin/Commands.h"
#include "admin/PackageFetch.h"
#include "admin/PackageSigning.h"
#include "admin/VersionRows.h"
#include "agent/CompositeVersion.h"
#include "agent/PackageName.h"
#include "agent/PackageVerification.h"
#include "platform/exception.h"
#include "platform/fs.h"
#include "support/FileDigests.h"

namespace admin {

namespace {

// Runs one step and reports it; false when it failed.
template <class Step>
bool Check(const std::string& what, Step step) {
    try {
        const std::string detail = step();
        Print("[ok]     " + what + (detail.empty() ? "" : ": " + detail) + "\n");
        return true;
    } catch (const platform::Exception& error) {
        Print("[FALHOU] " + what + ": " + error.Message() + "\n");
        return false;
    }
}

}  // namespace

int Verify(const CommandLine& line, AdminSession& session) {
    auto allowed = kConnectionOptions;
    allowed.insert(allowed.end(), {"id", "public-key"});
    line.AllowOnly(allowed, "verify");
    const auto id = line.Number("id", kMaxCode);
    if (!id) throw UsageError("falta --id");
    std::vector<std::string> keys;
    if (line.Has("public-key"))
        keys = PublicKeysFromPem(ReadKeyFile(line.Required("public-key"), "--public-key"));

    const auto version = FindVersion(session.Database(), *id);
    if (!version)
        throw platform::Exception("Nenhuma versão com id " + std::to_string(*id) +
                                  ". Veja as publicadas com: travik-publish list");
    const PublishedVersion& v = *version;
    Print("Versão:\n" + DescribeVersion(v) + "\n");

    bool ok = Check("nome_versao, link_sistema e versão aceitos pelo agente", [&] {
        agent::ValidatePackageName(v.nome);
        agent::ValidatePackageLink(v.link);
        agent::ValidatePublishedVersion(v.vlVersao);
        return std::string();
    });
    const TemporaryFolder folder;
    std::string fetched;
    if (ok) {
        ok = Check("download de " + v.link, [&] {
            fetched = FetchPackage(v.link, folder);
            return std::to_string(platform::fs::FileSize(fetched)) + " bytes";
        });
    }
    support::FileDigests digests;
    if (ok) {
        ok = Check("MD5 do arquivo baixado igual a md5_arquivo", [&] {
            digests = support::DigestFile(fetched);
            if (!agent::DigestsMatch(digests.md5, v.md5))
                throw platform::Exception(
                    "o link serve o MD5 " + digests.md5 + ", a linha diz " + v.md5 +
                    ". O agente recusaria o pacote (3 downloads, depois erro).");
            return digests.md5;
        });
    }
    if (ok && keys.empty()) {
        Print(std::string("[--]     assinatura ") +
              (v.assinatura && !v.assinatura->empty() ? "presente" : "ausente") +
              ", não verificada (dê --public-key)\n");
    } else if (ok) {
        ok = Check("assinatura aceita por uma das chaves", [&] {
            if (const std::string problem = SignatureProblem(v, digests.sha256, keys);
                !problem.empty())
                throw platform::Exception(problem +
                                          ". Um agente com essas chaves recusaria o pacote.");
            return std::string();
        });
    }
    if (!ok) {
        Print("\nA versão id " + std::to_string(v.id) +
              " NÃO passa: os agentes não a instalarão. Corrija-a (withdraw e publish) antes de "
              "avisar os clientes.\n");
        return 1;
    }
    Print("\nA versão id " + std::to_string(v.id) + " passa: um agente a baixa e a registra.\n");
    return 0;
}

}  // namespace admin

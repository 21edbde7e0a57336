// publish: checks a package against its link and the published versions, then inserts
// its row, signed when a private key is given.
#include <algorithm>

#include "admin/Commands.h"
#include "admin/PackageFetch.h"
#include "admin/PackageSigning.h"
#include "admin/VersionRows.h"
#include "agent/PackageName.h"
#include "platform/exception.h"
#include "platform/fs.h"
#include "support/FileDigests.h"

namespace admin {

namespace {

std::string ForWhom(std::int64_t cliente) {
    return cliente == 0 ? "todos os clientes" : "o cliente " + std::to_string(cliente);
}

std::string Dotted(std::uint64_t composite) {
    return VersionFromComposite(composite).Dotted();
}

void WarnAboutOrder(dbclient::TDbConnection& db, const NewVersion& v) {
    const std::uint64_t composite = v.version.Composite();
    if (const auto newest = NewestComposite(db, v.sistema, v.cliente);
        newest && *newest >= composite)
        Warn("a versão " + v.version.Dotted() + " não é mais nova que a " + Dotted(*newest) +
             ", já publicada para " + ForWhom(v.cliente) + " do sistema " +
             std::to_string(v.sistema) + ". Os agentes que já estão na " + Dotted(*newest) +
             " ou acima a ignoram.");
    if (v.cliente != 0) {
        // The agent fetches the newest general version, then the client's, and records the
        // client's last: the host installs the client's version even when it is older.
        if (const auto general = NewestComposite(db, v.sistema, 0); general && composite < *general)
            Warn("a versão " + v.version.Dotted() + " do cliente " + std::to_string(v.cliente) +
                 " é mais antiga que a versão geral " + Dotted(*general) +
                 ". Um agente desse cliente abaixo das duas baixa ambas e registra a do cliente "
                 "por último: o sistema instala a " +
                 v.version.Dotted() + ". Publique para o cliente uma versão acima da geral.");
    } else {
        for (const auto& [cliente, newest] : ClientVersionsBelow(db, v.sistema, composite))
            Warn("o cliente " + std::to_string(cliente) + " tem versão própria " + Dotted(newest) +
                 ", mais antiga que esta versão geral. Um agente desse cliente abaixo da " +
                 Dotted(newest) +
                 " baixa ambas e registra a do cliente por último: o sistema "
                 "instala a " +
                 Dotted(newest) + ".");
    }
}

}  // namespace

int Publish(const CommandLine& line, AdminSession& session) {
    auto allowed = kConnectionOptions;
    allowed.insert(allowed.end(),
                   {"system", "client", "version", "url", "file", "name", "key", "no-check"});
    line.AllowOnly(allowed, "publish");
    NewVersion v;
    const auto sistema = line.Number("system", kMaxCode);
    if (!sistema) throw UsageError("falta --system");
    v.sistema = *sistema;
    v.cliente = line.Number("client", kMaxCode).value_or(0);
    const std::string versionText = line.Required("version");
    const auto version = ParseVersion(versionText);
    if (!version)
        throw UsageError(
            "--version deve ser A.B.C.D (a primeira parte com até 6 dígitos, as "
            "outras com até 4): \"" +
            versionText + "\"");
    v.version = *version;
    v.link = line.Required("url");
    const std::string file = line.Required("file");
    const auto keyFile = line.Value("key");
    if (keyFile && keyFile->empty()) throw UsageError("falta o valor de --key");

    ValidateLink(v.link);
    v.nome = line.Value("name").value_or(FileNameOfUrl(v.link));
    try {
        agent::ValidatePackageName(v.nome);
    } catch (const platform::Exception& error) {
        throw platform::Exception(error.Message() +
                                  (line.Has("name") ? "" : " Dê o nome do pacote com --name."));
    }
    if (!platform::fs::FileExists(file))
        throw platform::Exception("O arquivo " + file + " não existe. Confira --file.");
    const std::optional<std::string> key =
        keyFile ? std::optional<std::string>(ReadKeyFile(*keyFile, "--key")) : std::nullopt;

    auto& db = session.Database();
    if (key && !HasSignatureColumn(db))
        throw platform::Exception(
            "A tabela versao deste banco não tem a coluna assinatura. Execute db/schema.sql "
            "como administrador (ele a acrescenta) e publique de novo. Nada foi publicado.");
    if (const auto same = SameVersionIds(db, v); !same.empty())
        throw platform::Exception(
            "A versão " + v.version.Dotted() + " do sistema " + std::to_string(v.sistema) +
            " para " + ForWhom(v.cliente) + " já está publicada (id " +
            std::to_string(same.front()) +
            "). Nada foi publicado. Para trocar o pacote, publique uma versão mais nova; para "
            "retirar a publicada, use: travik-publish withdraw --id " +
            std::to_string(same.front()));

    const support::FileDigests digests = support::DigestFile(file);
    v.md5 = digests.md5;
    if (key) v.assinatura = SignPackage(*key, v, digests.sha256);

    if (!line.Has("no-check")) {
        const TemporaryFolder folder;
        const std::string fetched = FetchPackage(v.link, folder);
        const std::string served = support::DigestFile(fetched).md5;
        if (served != v.md5)
            throw platform::Exception(
                "O link " + v.link + " serve outro arquivo: MD5 do link " + served + ", MD5 de " +
                file + " " + v.md5 +
                ". Nada foi publicado. Envie o arquivo ao servidor web (ou corrija o link) e "
                "publique de novo.");
    }

    WarnAboutOrder(db, v);
    const std::int64_t id = InsertVersion(db, v);
    const auto row = FindVersion(db, id);
    Print("Publicada:\n" + (row ? DescribeVersion(*row) : "  id: " + std::to_string(id) + "\n"));
    return 0;
}

}  // namespace admin

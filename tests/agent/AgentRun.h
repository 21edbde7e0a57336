// Running the real agent in a folder of its own against the test servers.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dbclient/SqlEscape.h"
#include "testsupport/testsupport.h"

namespace agenttest {

inline std::string SourceFile(const std::string& relative) {
    return testsupport::ReadFile(std::string(TRAVIK_SOURCE_DIR) + "/" + relative);
}

// The update database as an administrator creates it, followed by `rows` (UTF-8 text:
// the server's start-up session would read it in its own default character set).
inline std::string UpdateDatabaseSql(const std::string& rows) {
    return SourceFile("db/schema.sql") + "\nSET NAMES utf8mb4;\n" + rows + "\n";
}

// A MariaDB server on 127.0.0.1 holding that update database.
inline std::unique_ptr<testsupport::MariaDbServer> StartUpdateDatabase(const std::string& rows) {
    return std::make_unique<testsupport::MariaDbServer>(
        testsupport::MariaDbServer::Options{.initSql = UpdateDatabaseSql(rows)});
}

// One published version as an INSERT into atualizacaodb.versao.
struct Version {
    int id = 0;
    int sistema = 0;
    int cliente = 0;
    int major = 0, minor = 0, release = 0, build = 0;
    std::string link;
    std::string md5;
    std::string nome;
    std::optional<std::string> assinatura;  // the column is left out when not given
};

inline std::string SqlText(const std::string& text) {
    return "'" + dbclient::EscapeStringLiteral(text) + "'";
}

inline std::string InsertVersion(const Version& v) {
    return "INSERT INTO atualizacaodb.versao (id, id_sistema, codigo_cliente, v_major, v_minor, "
           "v_release, v_build, link_sistema, md5_arquivo, nome_versao" +
           std::string(v.assinatura ? ", assinatura" : "") + ") VALUES (" + std::to_string(v.id) +
           ", " + std::to_string(v.sistema) + ", " + std::to_string(v.cliente) + ", " +
           std::to_string(v.major) + ", " + std::to_string(v.minor) + ", " +
           std::to_string(v.release) + ", " + std::to_string(v.build) + ", " + SqlText(v.link) +
           ", " + SqlText(v.md5) + ", " + SqlText(v.nome) +
           (v.assinatura ? ", " + SqlText(*v.assinatura) : "") + ");\n";
}

// The bytes of a text as the server's HEX() shows them.
inline std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 0xF];
    }
    return hex;
}

// MD5 of a file as md5sum prints it (lower case).
inline std::string Md5Sum(const std::string& path) {
    const auto r = testsupport::Run({.argv = {"md5sum", path}});
    return r.out.substr(0, 32);
}

// What a publisher signs for a package, written out here as the publisher's own tools
// would, so the agent's code is not what the tests check it against.
inline std::string PackageMessage(int sistema, int cliente, const std::string& versao,
                                  const std::string& nome, const std::string& packagePath) {
    const std::string sha256 =
        testsupport::Run({.argv = {"sha256sum", packagePath}}).out.substr(0, 64);
    return "travik-package-v1\nid_sistema=" + std::to_string(sistema) +
           "\ncodigo_cliente=" + std::to_string(cliente) + "\nversao=" + versao +
           "\nnome_versao=" + nome + "\nsha256=" + sha256 + "\n";
}

// The publisher's signature of `message` with the openssl command: Base64 of the DER
// ECDSA signature. `key` is a private key of tests/agent/signing.
inline std::string OpensslSign(const std::string& key, const std::string& message) {
    const testsupport::TempDir dir("travik-sign");
    testsupport::WriteFile(dir / "message", message);
    const auto r = testsupport::Run(
        {.argv = {"sh", "-c", "openssl dgst -sha256 -sign \"$0\" \"$1\" | base64 -w0",
                  std::string(TRAVIK_SOURCE_DIR) + "/tests/agent/signing/" + key,
                  dir / "message"}});
    if (r.exitStatus != 0 || r.out.empty()) throw std::runtime_error("openssl: " + r.err);
    return r.out;
}

// A folder holding a copy of the agent, as an installation has it; the packages and
// Atualizacao_retaguarda/versao.ini go here.
class AgentFolder {
  public:
    explicit AgentFolder(bool withIniFolder = true,
                         const std::string& binary = testsupport::AgentBinary())
        : dir_("travik-agent") {
        std::filesystem::copy_file(binary, dir_ / "TravikVersoes");
        if (withIniFolder) std::filesystem::create_directory(dir_ / "Atualizacao_retaguarda");
    }
    const std::string& path() const { return dir_.path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    std::string Ini() const { return dir_ / "Atualizacao_retaguarda/versao.ini"; }

    testsupport::Process::Options Options(
        const std::vector<std::string>& args, int dbPort,
        const std::map<std::string, std::string>& env = {}) const {
        testsupport::Process::Options o;
        o.argv = {dir_ / "TravikVersoes"};
        o.argv.insert(o.argv.end(), args.begin(), args.end());
        o.cwd = dir_.path();
        o.env = {{"TRAVIK_DB_HOST", "127.0.0.1:" + std::to_string(dbPort)},
                 {"TRAVIK_START_DELAY_MS", "0"}};
        for (const auto& [k, v] : env) o.env[k] = v;
        return o;
    }
    testsupport::ProcessResult Run(const std::vector<std::string>& args, int dbPort,
                                   const std::map<std::string, std::string>& env = {}) const {
        return testsupport::Run(Options(args, dbPort, env), std::chrono::seconds(60));
    }

  private:
    testsupport::TempDir dir_;
};

// What the completion alert prints on standard output.
inline const std::string kAlertLine =
    "Travik Versões: Download Concluido. Feche e abra o sistema novamente para concluir a "
    "instalação.\n";

// The INI file as the agent writes it for one package.
inline std::string IniText(const std::string& vlVersao, const std::string& arquivo) {
    return "[ATUALIZACAO]\r\nVERSAO=" + vlVersao + "\r\nARQUIVO=" + arquivo + "\r\n\r\n";
}

// The two packages of the proxy tests, under links named by `host` (this machine's name:
// it reaches 127.0.0.1, yet no proxy rule takes it for a loopback name): pacote.zip over
// http for every client, seguro.zip over https, with a certificate for `host`, for client 42.
struct ProxiedPackages {
    explicit ProxiedPackages(const std::string& name) : host(name) {
        testsupport::WriteFile(www / "pacote.zip", std::string(300000, 'p') + "fim");
        testsupport::WriteFile(www / "seguro.zip", std::string(200000, 's') + "fim");
        const auto issued = certs.Issue(host, "DNS:" + host);
        const testsupport::NginxTls tls{issued.cert, issued.key};
        web = std::make_unique<testsupport::NginxServer>(www.path());
        secureWeb = std::make_unique<testsupport::NginxServer>(www.path(), "", &tls);
        const auto link = [&](const std::string& scheme, const testsupport::NginxServer& s,
                              const std::string& file) {
            return scheme + "://" + host + ":" + std::to_string(s.port()) + "/" + file;
        };
        db = StartUpdateDatabase(
            InsertVersion({1, 1, 0, 3, 0, 0, 0, link("http", *web, "pacote.zip"),
                           Md5Sum(www / "pacote.zip"), "pacote.zip"}) +
            InsertVersion({2, 1, 42, 3, 0, 0, 1, link("https", *secureWeb, "seguro.zip"),
                           Md5Sum(www / "seguro.zip"), "seguro.zip"}));
    }
    std::string host;
    testsupport::TempDir www{"travik-www"};
    testsupport::TestCertificates certs;
    std::unique_ptr<testsupport::NginxServer> web, secureWeb;
    std::unique_ptr<testsupport::MariaDbServer> db;
};

}  // namespace agenttest

#include "admin/AdminSession.h"

#include "agent/RunSettings.h"
#include "dbclient/DbErrors.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/exception.h"

namespace admin {

namespace {

// Each read and write of the session waits at most this long.
constexpr std::uint32_t kReadWriteTimeoutMs = 120000;

}  // namespace

std::string AdminPassword(const std::string& user, const std::string& where) {
    if (const auto password = platform::EnvironmentVariable("TRAVIK_ADMIN_PASSWORD"))
        return *password;
    if (const auto typed =
            platform::console::ReadSecret("Senha de " + user + " em " + where + ": "))
        return *typed;
    throw platform::Exception(
        "Sem senha do administrador: não há terminal para digitá-la. Defina a variável de "
        "ambiente TRAVIK_ADMIN_PASSWORD com a senha de " +
        user + " e execute de novo.");
}

AdminSession::AdminSession(AdminAccount account) : account_(std::move(account)) {
    agent::DatabaseAddress address;
    try {
        address = agent::ParseDatabaseAddress(account_.address.empty()
                                                  ? std::string(agent::DefaultDatabaseHost())
                                                  : account_.address);
    } catch (const platform::Exception&) {
        throw platform::Exception("Endereço inválido em --db: \"" + account_.address +
                                  "\". Use host ou host:porta.");
    }
    host_ = address.host;
    port_ = address.port;
}

AdminSession::~AdminSession() = default;

std::string AdminSession::Where() const {
    const bool v6 = host_.find(':') != std::string::npos;
    return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

dbclient::TDbConnection& AdminSession::Database() {
    if (connection_) return *connection_;
    auto connection = std::make_unique<dbclient::TDbConnection>();
    connection->SetHost(host_);
    connection->SetPortNumber(static_cast<std::uint32_t>(port_));
    connection->SetUserName(account_.user);
    connection->SetUserPassword(AdminPassword(account_.user, Where()));
    connection->SetDatabaseName(account_.database);
    connection->SetReadWriteTimeout(kReadWriteTimeoutMs);
    // Texts travel as UTF-8 both ways, as the program holds them.
    connection->SetConnectionCharacterSet("utf8mb4");
    try {
        connection->SetConnected(true);
    } catch (const dbclient::EDbError& error) {
        if (error.MySQLErrorCode() == 1045)
            throw platform::Exception("Acesso negado a " + account_.user + " em " + Where() +
                                      ". Confira o usuário (--user) e a senha.");
        if (error.MySQLErrorCode() == 1049)
            throw platform::Exception(
                "O banco de dados " + account_.database + " não existe em " + Where() +
                (account_.database == "atualizacaodb" ? ". Crie-o com db/schema.sql." : "."));
        // The client's message has its code and text on two lines; here they make one.
        std::string text = error.Message();
        for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
            text.replace(at, 2, " ");
        throw platform::Exception("Não foi possível entrar no banco de dados em " + Where() + ": " +
                                  text + ". Confira o endereço (--db).");
    }
    connection_ = std::move(connection);
    return *connection_;
}

}  // namespace admin

// The administrator's session on the update database: the account from the command
// line, the password from TRAVIK_ADMIN_PASSWORD or the terminal (never an argument), and
// the connection, opened at its first use.
#pragma once

#include <memory>
#include <string>

#include "dbclient/DbConnection.h"

namespace admin {

struct AdminAccount {
    std::string address;  // host or host:port; empty: the host compiled into the agent
    std::string user = "root";
    std::string database = "atualizacaodb";
};

// TRAVIK_ADMIN_PASSWORD when it is set, else asked on the terminal without echo. Raises
// platform::Exception, saying what to do, when there is neither.
std::string AdminPassword(const std::string& user, const std::string& where);

class AdminSession {
  public:
    explicit AdminSession(AdminAccount account);
    ~AdminSession();
    AdminSession(const AdminSession&) = delete;
    AdminSession& operator=(const AdminSession&) = delete;

    // "host:port" of the server the session logs in to.
    std::string Where() const;
    // The open connection; the first call asks for the password and logs in, raising
    // platform::Exception with what to check when that fails.
    dbclient::TDbConnection& Database();

  private:
    AdminAccount account_;
    std::string host_;
    int port_ = 3306;
    std::unique_ptr<dbclient::TDbConnection> connection_;
};

}  // namespace admin

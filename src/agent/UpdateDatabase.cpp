#include "agent/UpdateDatabase.h"

#include <algorithm>
#include <chrono>
#include <random>

#include "agent/RunSettings.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbErrors.h"
#include "platform/application.h"
#include "platform/exception.h"

#ifndef TRAVIK_DEFAULT_DB_PASSWORD
#define TRAVIK_DEFAULT_DB_PASSWORD "58rtm36@"
#endif

namespace agent {

namespace {

constexpr const char* kDatabaseName = "atualizacaodb";
constexpr const char* kUserName = "atualizacaodb";
constexpr const char* kUserPassword = TRAVIK_DEFAULT_DB_PASSWORD;  // the build setting

// The connect and the server's greeting wait at most this long (seconds).
constexpr unsigned kConnectSeconds = 30;

// A server too busy to take the login is tried again, at most this many logins in all.
constexpr int kLoginAttempts = 4;

// "Too many connections" and "User has too many connections": the server is busy, not
// refusing this agent.
bool IsBusyRefusal(const dbclient::EDbError& error) {
    return error.MySQLErrorCode() == 1040 || error.MySQLErrorCode() == 1203;
}

// From a quarter of the longest wait to all of it (2 to 8 seconds by default), so agents
// refused together do not come back together.
std::chrono::milliseconds RetryWait() {
    const unsigned longest = DatabaseRetryWaitMilliseconds();
    static std::mt19937 random(std::random_device{}());
    return std::chrono::milliseconds(
        std::uniform_int_distribution<unsigned>(longest / 4, longest)(random));
}

}  // namespace

void ConnectUpdateDatabase(platform::Application& app, dbclient::TDbConnection& connection,
                           unsigned timeoutMs) {
    const DatabaseAddress address = UpdateDatabaseAddress();
    connection.SetHost(address.host);
    connection.SetDatabaseName(kDatabaseName);
    connection.SetUserName(kUserName);
    connection.SetUserPassword(kUserPassword);
    connection.SetPortNumber(static_cast<std::uint32_t>(address.port));
    // A server that stops answering ends the exchange with the lost-connection error.
    connection.SetReadWriteTimeout(timeoutMs);
    // The connect and the greeting count whole seconds: a shorter time-out is rounded up.
    connection.SetConnectionTimeout(std::min(kConnectSeconds, (timeoutMs + 999) / 1000));
    for (int attempt = 1;; ++attempt) {
        try {
            connection.SetConnected(true);
            return;
        } catch (const dbclient::EDbError& error) {
            if (attempt == kLoginAttempts || !IsBusyRefusal(error)) throw;
        }
        // The wait keeps the agent answering: "Fechar" ends it here, without a message.
        app.ProcessMessagesFor(RetryWait());
        if (app.Terminated()) throw platform::EAbort();
    }
}

void AbortIfCloseRequested(platform::Application& app) {
    app.ProcessMessages();
    if (app.Terminated()) throw platform::EAbort();
}

}  // namespace agent

// The agent's login to the update database, shared by the version exchange and the
// report of the run's outcome.
#pragma once

namespace dbclient {
class TDbConnection;
}
namespace platform {
class Application;
}

namespace agent {

// Logs `connection` in to the update database as the agent's account (the address of
// UpdateDatabaseAddress). `timeoutMs` bounds each read and write after the login, and the
// connect with the server's greeting too when it is shorter than their 30 seconds. A
// server too busy to take the login (too many connections) is tried again after a
// random wait during which `app` keeps handling messages; a close request ("Fechar")
// during that wait raises EAbort. Any other failure raises the connection's EDbError.
void ConnectUpdateDatabase(platform::Application& app, dbclient::TDbConnection& connection,
                           unsigned timeoutMs);

// Raises EAbort when a close request ("Fechar", or SIGINT/SIGTERM on Linux) is waiting
// or has been handled: a database wait that such a request interrupted ends the run
// quietly instead of with the connection's error.
void AbortIfCloseRequested(platform::Application& app);

}  // namespace agent

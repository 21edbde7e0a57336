// The call layer between the components and the native connections: every operation
// runs inside a handler that turns the native layer's internal exception into a 16-bit
// result code (0 = success) and keeps the failure's number and text for the message.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dbclient/DbErrors.h"
#include "dbclient/DbStrings.h"
#include "dbclient/NativeConnection.h"

namespace dbclient {

class TDbEngine {
  public:
    TDbEngine(bool multiThreaded, std::string sslKey, std::string sslCert);

    void SetSSLFiles(std::string key, std::string cert);

    // Creates a native connection with a new session and logs in with the settings list.
    // On failure the half-made connection is freed and the result code returned.
    std::uint16_t OpenDatabase(TConnectOptions options, const TStringList& params,
                               std::unique_ptr<TNativeConnection>& database);

    // Runs a native operation; any exception other than the native layer's passes through.
    std::uint16_t Call(const std::function<void()>& operation);

    // Session error number of the last session failure, and the text of the last failure.
    int NativeStatus() const { return FNativeStatus; }
    const std::string& NativeMsg() const { return FNativeMsg; }

    // The native connection of the current call.
    TNativeConnection* Database() const { return FDatabase; }
    void SetDatabase(TNativeConnection* database) { FDatabase = database; }

  private:
    std::uint16_t Convert(const EDbNativeException& e);

    TNativeConnection* FDatabase = nullptr;
    int FNativeStatus = 0;
    std::string FNativeMsg;
    bool FMultiThreaded;
    std::string FSSLKey, FSSLCert;
};

// Raises EDbError for a non-zero result code of `engine`.
void Check(const TDbEngine& engine, std::uint16_t code);

}  // namespace dbclient

#include "dbclient/DbEngine.h"

namespace dbclient {

TDbEngine::TDbEngine(bool multiThreaded, std::string sslKey, std::string sslCert)
    : FMultiThreaded(multiThreaded), FSSLKey(std::move(sslKey)), FSSLCert(std::move(sslCert)) {}

void TDbEngine::SetSSLFiles(std::string key, std::string cert) {
    FSSLKey = std::move(key);
    FSSLCert = std::move(cert);
}

std::uint16_t TDbEngine::Convert(const EDbNativeException& e) {
    std::uint16_t code;
    if (e.IsEngineCode()) {
        code = e.EngineErrorCode();
    } else {
        FNativeStatus = e.NativeErrorCode();
        code = DBIERR_NATIVE;
    }
    FNativeMsg = e.NativeErrorMsg();
    return code;
}

std::uint16_t TDbEngine::Call(const std::function<void()>& operation) {
    try {
        operation();
        return DBIERR_NONE;
    } catch (const EDbNativeException& e) {
        return Convert(e);
    }
}

std::uint16_t TDbEngine::OpenDatabase(TConnectOptions options, const TStringList& params,
                                      std::unique_ptr<TNativeConnection>& database) {
    auto session = std::make_unique<TMysqlClient>();
    session->SetMultiThreaded(FMultiThreaded);
    auto connection = std::make_unique<TNativeConnection>(options, std::move(session));
    FDatabase = connection.get();
    const std::uint16_t code = Call([&] {
        connection->ReadOptions(params);
        connection->SetSSLFiles(FSSLKey, FSSLCert);
        connection->Login();
    });
    FDatabase = nullptr;
    if (code == DBIERR_NONE) database = std::move(connection);
    return code;
}

void Check(const TDbEngine& engine, std::uint16_t code) {
    if (code != DBIERR_NONE) throw EDbError(engine, code);
}

}  // namespace dbclient

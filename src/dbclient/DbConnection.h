// The connection component: the settings of one MySQL server connection, the connect
// and disconnect sequences with their events, and the datasets attached to it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "dbclient/DbEngine.h"
#include "dbclient/DbFields.h"
#include "dbclient/DbParams.h"
#include "dbclient/DbSet.h"
#include "dbclient/DbStrings.h"
#include "dbclient/NativeConnection.h"

namespace dbclient {

class TDbDataSet;

enum class TTransIsolation { xiDirtyRead, xiReadCommitted, xiRepeatableRead };
using enum TTransIsolation;

enum class TDesignOption { ddoStoreConnected, ddoStorePassword };
using enum TDesignOption;
using TDesignOptions = TSet<TDesignOption>;

// A column of a result chosen by its number (from 0) or by its name.
using TFieldSelector = std::variant<int, std::string>;

class TDbConnection {
  public:
    using TNotifyEvent = std::function<void(TDbConnection& Sender)>;
    using TLoginEvent = std::function<void(TDbConnection& Sender, TStringList& LoginParams)>;
    using TConnectionFailureEvent =
        std::function<void(TDbConnection& Sender, const std::string& Message)>;

    explicit TDbConnection(std::string name = {});
    ~TDbConnection();
    TDbConnection(const TDbConnection&) = delete;
    TDbConnection& operator=(const TDbConnection&) = delete;

    const std::string& Name() const { return FName; }
    void SetName(std::string v) { FName = std::move(v); }

    // Open and close.
    bool Connected() const { return FHandle != nullptr; }
    void SetConnected(bool value);
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    void Connect() { SetConnected(true); }
    void Disconnect() { SetConnected(false); }

    // Loading from a stored form: while loading, settings are stored without checks and
    // Connected := true only takes effect when loading ends.
    void BeginLoading() { FLoading = true; }
    void EndLoading();

    // Settings; those mirrored into Params may not change while connected.
    const std::string& Host() const { return FHost; }
    void SetHost(const std::string& v);
    const std::string& DatabaseName() const { return FDatabaseName; }
    void SetDatabaseName(const std::string& v);
    const std::string& UserName() const { return FUserName; }
    void SetUserName(const std::string& v);
    const std::string& UserPassword() const { return FUserPassword; }
    void SetUserPassword(const std::string& v);
    std::uint32_t Port() const { return FPort; }
    void SetPortNumber(std::uint32_t v);
    std::uint32_t ConnectionTimeout() const { return FConnectionTimeout; }
    void SetConnectionTimeout(std::uint32_t v);
    // How long one read or write of the open connection may wait, in milliseconds; 0
    // (the default) lets them wait as long as the server takes. Mirrored into Params as
    // "ReadWriteTimeout" once set.
    std::uint32_t ReadWriteTimeout() const { return FReadWriteTimeout; }
    void SetReadWriteTimeout(std::uint32_t milliseconds);
    // Largest packet, in MiB.
    std::uint32_t MaxAllowedPackedSize() const { return FMaxAllowedPackedSize; }
    void SetMaxAllowedPackedSize(std::uint32_t v);
    TConnectOptions ConnectOptions() const { return FConnectOptions; }
    void SetConnectOptions(TConnectOptions v) { FConnectOptions = v; }
    bool KeepConnection() const { return FKeepConnection; }
    void SetKeepConnection(bool v) { FKeepConnection = v; }
    // Applied after every login ("SET NAMES ..."); a change while connected applies at once.
    const std::string& ConnectionCharacterSet() const { return FConnectionCharacterSet; }
    void SetConnectionCharacterSet(const std::string& v);
    const std::string& ConnectionCollation() const { return FConnectionCollation; }
    void SetConnectionCollation(const std::string& v);
    bool LoginPrompt() const { return FLoginPrompt; }
    void SetLoginPrompt(bool v) { FLoginPrompt = v; }
    // The mirrored settings, as name=value entries; read by the native connection.
    TStringList& Params() { return FParams; }
    const TStringList& Params() const { return FParams; }
    void SetParams(const TStringList& v);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool v);
    bool Exclusive() const { return FExclusive; }
    void SetExclusive(bool v) { FExclusive = v; }
    bool HandleShared() const { return FHandleShared; }
    void SetHandleShared(bool v) { FHandleShared = v; }
    TTransIsolation TransIsolation() const { return FTransIsolation; }
    void SetTransIsolation(TTransIsolation v) { FTransIsolation = v; }
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool v) { FMultiThreaded = v; }
    const std::string& SSLKey() const { return FSSLKey; }
    void SetSSLKey(const std::string& v) { FSSLKey = v; }
    const std::string& SSLCert() const { return FSSLCert; }
    void SetSSLCert(const std::string& v) { FSSLCert = v; }
    TDesignOptions DesignOptions() const { return FDesignOptions; }
    void SetDesignOptions(TDesignOptions v) { FDesignOptions = v; }
    TDbDatasetOptions DatasetOptions() const { return FDatasetOptions; }
    void SetDatasetOptions(TDbDatasetOptions v);

    // Events, called only when assigned.
    TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;
    TLoginEvent OnLogin;
    TConnectionFailureEvent OnConnectionFailure;
    TNotifyEvent OnReconnect;

    // Runs a statement text (connecting if needed) and reads and discards its results;
    // with parameters their values are put into the ":name" markers. Gives the
    // affected-rows count.
    std::int64_t Execute(const std::string& sql, const TParams* params = nullptr,
                         bool cache = false);

    void StartTransaction();
    void Commit();
    void Rollback();
    bool InTransaction() const;

    void GetTableNames(TStringList& list);
    void GetFieldNames(const std::string& tableName, TStringList& list);
    void GetSPNames(TStringList& list);
    void GetDatabases(TStringList& list);
    void GetCharacterSetList(TStringList& list);
    void GetCollationList(TStringList& list);
    std::string GetDatabaseCharacterset();
    std::string GetDatabaseCollation();

    void SelectDB(const std::string& name);
    void ChangeUser(const std::string& user, const std::string& password,
                    const std::string& database);
    // Pings the server, connecting for the call when disconnected.
    bool Ping();
    void Kill(std::uint32_t pid);
    void Shutdown();

    static std::string GetClientInfo() { return "5.1"; }
    std::string GetServerStat();
    std::string GetHostInfo() const;
    unsigned GetProtoInfo() const;
    std::string GetServerInfo() const;
    // The server version number (5.1.73 gives 50173); -1 while disconnected.
    int GetServerVersion() const;
    std::int64_t GetLastInsertID() const;
    // The results character set read after "SET NAMES"; empty before.
    std::string GetCharSet() const;
    bool GetUtf8Used() const;
    bool GetIsSSLUsed() const;

    // One field of the first row of a query's result; IsOk tells whether there was such a
    // row and field (the Def forms give the default instead). A server error raises.
    std::string SelectString(const std::string& sql, bool& IsOk, const TFieldSelector& field = 0);
    std::string SelectStringDef(const std::string& sql, const std::string& def,
                                const TFieldSelector& field = 0);
    std::int32_t SelectInteger(const std::string& sql, bool& IsOk, const TFieldSelector& field = 0);
    std::int32_t SelectIntegerDef(const std::string& sql, std::int32_t def,
                                  const TFieldSelector& field = 0);
    std::int64_t SelectInt64(const std::string& sql, bool& IsOk, const TFieldSelector& field = 0);
    std::int64_t SelectInt64Def(const std::string& sql, std::int64_t def,
                                const TFieldSelector& field = 0);
    double SelectDouble(const std::string& sql, bool& IsOk, const TFieldSelector& field = 0);
    double SelectDoubleDef(const std::string& sql, double def, const TFieldSelector& field = 0);
    TDateTime SelectDateTime(const std::string& sql, bool& IsOk, const TFieldSelector& field = 0);
    TDateTime SelectDateTimeDef(const std::string& sql, TDateTime def,
                                const TFieldSelector& field = 0);

    // Closes every attached dataset.
    void CloseDataSets();
    int DataSetCount() const { return static_cast<int>(FDataSets.size()); }
    // Datasets holding the connection open.
    int RefCount() const { return FRefCount; }

    // The engine (made at the first connect) and the open native connection.
    TDbEngine* Engine() const { return FEngine.get(); }
    TNativeConnection* Handle() const { return FHandle.get(); }

  private:
    friend class TDbDataSet;

    // The first field of the first row of a query, as a field over its value.
    struct TSelected {
        TRecord record;
        std::unique_ptr<TField> field;
    };
    std::unique_ptr<TSelected> SelectField(const std::string& sql, const TFieldSelector& field);
    template <class T, class Read>
    T SelectAs(const std::string& sql, bool& IsOk, const TFieldSelector& field, Read read);

    void CheckInactive();
    void SetMirrored(std::string& field, const std::string& value, const char* key);
    void DoConnect();
    void DoDisconnect();
    void ApplyCharacterSet();
    // Runs a native operation on the open connection (connecting first), raising
    // EDbError for a failure.
    void Run(const std::function<void(TNativeConnection&)>& operation);
    std::vector<std::string> QueryColumn(const std::string& sql, int column);
    // The value (second column) of the row named `name()` in the answer to `sql`.
    std::string VariableValue(const std::string& sql, const std::function<std::string()>& name);

    // Called by datasets.
    void AttachDataSet(TDbDataSet& dataSet);
    void DetachDataSet(TDbDataSet& dataSet);
    void Acquire();
    void Release();

    std::string FName;
    std::unique_ptr<TDbEngine> FEngine;
    std::unique_ptr<TNativeConnection> FHandle;
    int FRefCount = 0;
    bool FPseudoIndexes = false;
    bool FCheckIfActiveOnParamChange = false;
    bool FLoading = false;
    bool FStreamedConnected = false;
    bool FDisconnecting = false;
    std::vector<TDbDataSet*> FDataSets;  // attached, not owned

    std::string FHost, FDatabaseName, FUserName, FUserPassword;
    std::uint32_t FPort = 0;
    std::uint32_t FConnectionTimeout = 0;
    std::uint32_t FReadWriteTimeout = 0;
    std::uint32_t FMaxAllowedPackedSize = 16;
    TConnectOptions FConnectOptions;
    bool FKeepConnection = true;
    std::string FConnectionCharacterSet, FConnectionCollation;
    bool FLoginPrompt = false;
    TStringList FParams;
    bool FReadOnly = false;
    bool FExclusive = false;
    bool FHandleShared = false;
    TTransIsolation FTransIsolation = xiReadCommitted;
    bool FMultiThreaded = false;
    std::string FSSLKey, FSSLCert;
    TDesignOptions FDesignOptions{ddoStoreConnected, ddoStorePassword};
    TDbDatasetOptions FDatasetOptions;
};

}  // namespace dbclient

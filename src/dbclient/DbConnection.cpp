#include "dbclient/DbConnection.h"

#include <algorithm>

#include "dbclient/DbDataSet.h"
#include "dbclient/DbFieldDesc.h"
#include "dbclient/DbSqlText.h"
#include "dbclient/SqlEscape.h"

namespace dbclient {

TDbConnection::TDbConnection(std::string name) : FName(std::move(name)) {
    FParams.OnChanging = [this] {
        if (FCheckIfActiveOnParamChange) CheckInactive();
    };
    FKeepConnection = true;
    SetPortNumber(3306);
    FTransIsolation = xiReadCommitted;
    SetConnectionTimeout(30);
    FMultiThreaded = false;
    FCheckIfActiveOnParamChange = true;
    FConnectOptions.Include(coCompress);
    FMaxAllowedPackedSize = 16;
    FDesignOptions = {ddoStoreConnected, ddoStorePassword};
}

TDbConnection::~TDbConnection() {
    try {
        SetConnected(false);
    } catch (...) {
        // Freeing must not fail; the session is closed below in any case.
    }
    FHandle.reset();
    for (auto it = FDataSets.rbegin(); it != FDataSets.rend(); ++it) (*it)->DatabaseGone();
    FDataSets.clear();
}

void TDbConnection::EndLoading() {
    FLoading = false;
    if (FStreamedConnected) SetConnected(true);
}

void TDbConnection::CheckInactive() {
    if (Connected()) DatabaseError(msg::SDatabaseOpen, FName);
}

void TDbConnection::SetMirrored(std::string& field, const std::string& value, const char* key) {
    if (field == value) return;
    if (!FLoading) CheckInactive();
    field = value;
    FParams.SetValues(key, value);
}

void TDbConnection::SetHost(const std::string& v) {
    SetMirrored(FHost, v, "Host");
}
void TDbConnection::SetDatabaseName(const std::string& v) {
    SetMirrored(FDatabaseName, v, "DatabaseName");
}
void TDbConnection::SetUserName(const std::string& v) {
    SetMirrored(FUserName, v, "UID");
}
void TDbConnection::SetUserPassword(const std::string& v) {
    SetMirrored(FUserPassword, v, "PWD");
}

void TDbConnection::SetPortNumber(std::uint32_t v) {
    if (FPort == v) return;
    if (!FLoading) CheckInactive();
    FPort = v;
    FParams.SetValues("Port", std::to_string(v));
}

void TDbConnection::SetConnectionTimeout(std::uint32_t v) {
    if (FConnectionTimeout == v) return;
    if (!FLoading) CheckInactive();
    FConnectionTimeout = v;
    FParams.SetValues("TIMEOUT", std::to_string(v));
}

void TDbConnection::SetReadWriteTimeout(std::uint32_t milliseconds) {
    if (FReadWriteTimeout == milliseconds) return;
    if (!FLoading) CheckInactive();
    FReadWriteTimeout = milliseconds;
    FParams.SetValues("ReadWriteTimeout", std::to_string(milliseconds));
}

void TDbConnection::SetMaxAllowedPackedSize(std::uint32_t v) {
    if (FMaxAllowedPackedSize == v) return;
    CheckInactive();
    FMaxAllowedPackedSize = v;
    FParams.SetValues("MaxAllowedPackedSize", std::to_string(v));
}

void TDbConnection::SetParams(const TStringList& v) {
    CheckInactive();
    FParams.Assign(v.Lines());
}

void TDbConnection::SetReadOnly(bool v) {
    CheckInactive();
    FReadOnly = v;
}

void TDbConnection::SetConnectionCharacterSet(const std::string& v) {
    if (FConnectionCharacterSet == v) return;
    FConnectionCharacterSet = v;
    FConnectionCollation.clear();
    if (Connected()) ApplyCharacterSet();
}

void TDbConnection::SetConnectionCollation(const std::string& v) {
    if (FConnectionCollation == v) return;
    FConnectionCollation = v;
    if (Connected()) ApplyCharacterSet();
}

void TDbConnection::SetDatasetOptions(TDbDatasetOptions v) {
    FDatasetOptions = v;
    if (FHandle) FHandle->SetDatasetOptions(v);
}

void TDbConnection::SetConnected(bool value) {
    if (FLoading) {
        FStreamedConnected = value;
        return;
    }
    if (value == Connected()) return;
    if (value) {
        if (BeforeConnect) BeforeConnect(*this);
        DoConnect();
        if (AfterConnect) AfterConnect(*this);
    } else {
        if (BeforeDisconnect) BeforeDisconnect(*this);
        DoDisconnect();
        if (AfterDisconnect) AfterDisconnect(*this);
    }
}

void TDbConnection::DoConnect() {
    if (FHandle) return;
    if (!FEngine) FEngine = std::make_unique<TDbEngine>(FMultiThreaded, FSSLKey, FSSLCert);
    if (!FEngine) DatabaseError(msg::SEngineNotInitialized, FName);

    if (FLoginPrompt) {
        if (!OnLogin) DatabaseError(FormatMsg(msg::SLoginError, FDatabaseName), FName);
        TStringList login;
        OnLogin(*this, login);
        FUserName = login.Values("UID");
        FUserPassword = login.Values("PWD");
        FParams.SetValues("UID", FUserName);
        FParams.SetValues("PWD", FUserPassword);
    }

    TStringList settings;
    settings.Assign(FParams.Lines());
    FEngine->SetSSLFiles(FSSLKey, FSSLCert);
    std::unique_ptr<TNativeConnection> handle;
    const std::uint16_t code = FEngine->OpenDatabase(FConnectOptions, settings, handle);
    if (code != DBIERR_NONE) {
        if (OnConnectionFailure) {
            OnConnectionFailure(*this, FEngine->NativeMsg());
            return;
        }
        throw EDbError(*FEngine, code);
    }
    FHandle = std::move(handle);
    FHandle->SetDatasetOptions(FDatasetOptions);
    FHandle->Client().SetOnReconnect([this] {
        // A new server session starts in the login's character set.
        FHandle->TakeLoginCharSet();
        ApplyCharacterSet();
        if (OnReconnect) OnReconnect(*this);
    });
    FPseudoIndexes = false;
    try {
        ApplyCharacterSet();
    } catch (...) {
        // A connection whose character set could not be applied is not left open.
        FHandle.reset();
        throw;
    }
}

void TDbConnection::DoDisconnect() {
    if (!FHandle) return;
    FDisconnecting = true;
    try {
        CloseDataSets();
    } catch (...) {
        FDisconnecting = false;
        throw;
    }
    FDisconnecting = false;
    FHandle.reset();
    FRefCount = 0;
}

void TDbConnection::ApplyCharacterSet() {
    const std::string& cs = FConnectionCharacterSet;
    const std::string& col = FConnectionCollation;
    if (cs.empty() && col.empty()) return;
    std::string sql;
    if (cs.empty())
        sql = "SET collation_connection = '" + EscapeStringLiteral(col) + "'";
    else if (col.empty())
        sql = "SET NAMES '" + EscapeStringLiteral(cs) + "'";
    else
        sql = "SET NAMES '" + EscapeStringLiteral(cs) + "' COLLATE '" + EscapeStringLiteral(col) +
              "'";
    Execute(sql);
}

void TDbConnection::Run(const std::function<void(TNativeConnection&)>& operation) {
    SetConnected(true);
    const std::uint16_t code = FEngine->Call([&] {
        if (!FHandle) throw EDbNativeException::CreateEngine(DBIERR_INVALIDHNDL);
        operation(*FHandle);
    });
    Check(*FEngine, code);
}

std::int64_t TDbConnection::Execute(const std::string& sql, const TParams* params, bool) {
    std::int64_t affected = 0;
    std::string text = sql;
    if (params != nullptr && params->Count() > 0)
        text = SubstituteParams(ParseSqlParams(sql), *params);
    Run([&](TNativeConnection& c) { affected = c.ExecuteDirect(text); });
    return affected;
}

void TDbConnection::StartTransaction() {
    if (!Connected()) DatabaseError(msg::SDatabaseClosed, FName);
    Run([](TNativeConnection& c) { c.StartTransaction(); });
}

void TDbConnection::Commit() {
    if (!Connected()) DatabaseError(msg::SDatabaseClosed, FName);
    Run([](TNativeConnection& c) { c.Commit(); });
}

void TDbConnection::Rollback() {
    if (!Connected()) DatabaseError(msg::SDatabaseClosed, FName);
    Run([](TNativeConnection& c) { c.Rollback(); });
}

bool TDbConnection::InTransaction() const {
    return FHandle && FHandle->InTransaction();
}

std::vector<std::string> TDbConnection::QueryColumn(const std::string& sql, int column) {
    std::vector<std::string> values;
    Run([&](TNativeConnection& c) {
        std::unique_ptr<TMysqlResult> rows = c.QueryStored(sql);
        for (std::int64_t r = 0; r < rows->RowsCount(); ++r) {
            rows->SetRecNo(r);
            const char* v = rows->FieldValue(column);
            values.emplace_back(v ? v : "");
        }
    });
    return values;
}

void TDbConnection::GetTableNames(TStringList& list) {
    list.Assign(QueryColumn("SHOW TABLES", 0));
}

void TDbConnection::GetFieldNames(const std::string& tableName, TStringList& list) {
    auto parts = FindSelectTable("SELECT * FROM " + tableName);
    const std::string quoted = parts ? QuoteTableName(*parts, 32307) : tableName;
    list.Assign(QueryColumn("SHOW COLUMNS FROM " + quoted, 0));
}

void TDbConnection::GetSPNames(TStringList& list) {
    list.Assign(QueryColumn("SHOW PROCEDURE STATUS WHERE Db = DATABASE()", 1));
}

void TDbConnection::GetDatabases(TStringList& list) {
    list.Assign(QueryColumn("SHOW DATABASES", 0));
}
void TDbConnection::GetCharacterSetList(TStringList& list) {
    list.Assign(QueryColumn("SHOW CHARACTER SET", 0));
}
void TDbConnection::GetCollationList(TStringList& list) {
    list.Assign(QueryColumn("SHOW COLLATION", 0));
}

std::string TDbConnection::VariableValue(const std::string& sql,
                                         const std::function<std::string()>& name) {
    std::string value;
    Run([&](TNativeConnection& c) {
        std::unique_ptr<TMysqlResult> rows = c.QueryStored(sql);
        const std::string wanted = name();
        for (std::int64_t r = 0; r < rows->RowsCount(); ++r) {
            rows->SetRecNo(r);
            const char* n = rows->FieldValue(0);
            if (n != nullptr && SameText(n, wanted)) {
                const char* v = rows->FieldValue(1);
                value = v ? v : "";
                return;
            }
        }
    });
    return value;
}

std::string TDbConnection::GetDatabaseCharacterset() {
    return VariableValue("SHOW VARIABLES LIKE 'character_set%'", [this] {
        return std::string(FHandle->ServerVersion() <= 40100 ? "character_set"
                                                             : "character_set_database");
    });
}

std::string TDbConnection::GetDatabaseCollation() {
    return VariableValue("SHOW VARIABLES", [] { return std::string("collation_database"); });
}

void TDbConnection::SelectDB(const std::string& name) {
    Run([&](TNativeConnection& c) {
        if (!c.Client().select_db(name)) {
            c.CheckError();
            throw EDbNativeException::CreateEngine(DBIERR_INVALIDPARAM);
        }
    });
}

void TDbConnection::ChangeUser(const std::string& user, const std::string& password,
                               const std::string& database) {
    Run([&](TNativeConnection& c) {
        if (!c.Client().change_user(user, password, database)) {
            c.CheckError();
            throw EDbNativeException::CreateEngine(DBIERR_INVALIDPARAM);
        }
    });
    // The session changed user while connected: the mirror follows without the check.
    const bool check = FCheckIfActiveOnParamChange;
    FCheckIfActiveOnParamChange = false;
    FUserName = user;
    FUserPassword = password;
    FDatabaseName = database;
    FParams.SetValues("UID", user);
    FParams.SetValues("PWD", password);
    FParams.SetValues("DatabaseName", database);
    FCheckIfActiveOnParamChange = check;
}

bool TDbConnection::Ping() {
    const bool wasConnected = Connected();
    SetConnected(true);
    const std::uint16_t code = FEngine->Call([&] {
        if (!FHandle) throw EDbNativeException::CreateEngine(DBIERR_INVALIDHNDL);
        if (!FHandle->Client().ping()) FHandle->CheckError();
    });
    if (!wasConnected) SetConnected(false);
    Check(*FEngine, code);
    return true;
}

void TDbConnection::Kill(std::uint32_t pid) {
    Run([&](TNativeConnection& c) {
        if (!c.Client().kill(pid)) c.CheckError();
    });
}

void TDbConnection::Shutdown() {
    Run([&](TNativeConnection& c) {
        if (!c.Client().shutdown()) c.CheckError();
    });
}

std::string TDbConnection::GetServerStat() {
    std::string text;
    Run([&](TNativeConnection& c) {
        text = c.Client().stat();
        if (text.empty()) c.CheckError();
    });
    return text;
}

std::string TDbConnection::GetHostInfo() const {
    if (!FHandle) return {};
    return FHandle->DBOptions().Host + " via TCP/IP";
}

unsigned TDbConnection::GetProtoInfo() const {
    return FHandle ? FHandle->Client().ProtocolVersion() : 0;
}
std::string TDbConnection::GetServerInfo() const {
    return FHandle ? FHandle->Client().ServerVersion() : "";
}
int TDbConnection::GetServerVersion() const {
    return FHandle ? FHandle->ServerVersion() : -1;
}
std::int64_t TDbConnection::GetLastInsertID() const {
    return FHandle ? FHandle->Client().LastInsertId() : 0;
}
std::string TDbConnection::GetCharSet() const {
    return FHandle ? FHandle->ResultsCharSetName() : "";
}
bool TDbConnection::GetUtf8Used() const {
    return FHandle && FHandle->Client().Utf8Used();
}
bool TDbConnection::GetIsSSLUsed() const {
    return FHandle && FHandle->Client().IsSSLUsed();
}

std::unique_ptr<TDbConnection::TSelected> TDbConnection::SelectField(const std::string& sql,
                                                                     const TFieldSelector& field) {
    std::unique_ptr<TSelected> selected;
    Run([&](TNativeConnection& c) {
        std::unique_ptr<TMysqlResult> rows = c.QueryStored(sql);
        const int index = std::holds_alternative<int>(field)
                              ? std::get<int>(field)
                              : rows->FieldIndexByName(std::get<std::string>(field));
        if (rows->RowsCount() == 0 || index < 0 || index >= rows->FieldsCount()) return;
        rows->SetRecNo(0);
        const TDbFieldDesc desc = MapColumn(*rows->FieldDef(index), {}, c.DBCharSet() == ccUTF8);
        selected = std::make_unique<TSelected>();
        const TMysql_Row* row = rows->CurrentRow();
        const auto value = row ? row->view(static_cast<std::size_t>(index)) : std::nullopt;
        selected->record.push_back(
            value ? ConvertValue(desc, value->data(), value->size(),
                                 c.DatasetOptions().Contains(dsoZeroDateAsNull))
                  : TFieldValue());
        selected->field = std::make_unique<TField>(desc.Name, desc.FieldType, desc.Size, 0);
        selected->field->Bind(&selected->record);
    });
    return selected;
}

template <class T, class Read>
T TDbConnection::SelectAs(const std::string& sql, bool& IsOk, const TFieldSelector& field,
                          Read read) {
    const auto selected = SelectField(sql, field);
    IsOk = selected != nullptr;
    return IsOk ? read(*selected->field) : T{};
}

std::string TDbConnection::SelectString(const std::string& sql, bool& IsOk,
                                        const TFieldSelector& field) {
    return SelectAs<std::string>(sql, IsOk, field, [](const TField& f) { return f.AsString(); });
}
std::string TDbConnection::SelectStringDef(const std::string& sql, const std::string& def,
                                           const TFieldSelector& field) {
    bool ok = false;
    std::string v = SelectString(sql, ok, field);
    return ok ? v : def;
}
std::int32_t TDbConnection::SelectInteger(const std::string& sql, bool& IsOk,
                                          const TFieldSelector& field) {
    return SelectAs<std::int32_t>(sql, IsOk, field, [](const TField& f) { return f.AsInteger(); });
}
std::int32_t TDbConnection::SelectIntegerDef(const std::string& sql, std::int32_t def,
                                             const TFieldSelector& field) {
    bool ok = false;
    const std::int32_t v = SelectInteger(sql, ok, field);
    return ok ? v : def;
}
std::int64_t TDbConnection::SelectInt64(const std::string& sql, bool& IsOk,
                                        const TFieldSelector& field) {
    return SelectAs<std::int64_t>(sql, IsOk, field, [](const TField& f) { return f.AsLargeInt(); });
}
std::int64_t TDbConnection::SelectInt64Def(const std::string& sql, std::int64_t def,
                                           const TFieldSelector& field) {
    bool ok = false;
    const std::int64_t v = SelectInt64(sql, ok, field);
    return ok ? v : def;
}
double TDbConnection::SelectDouble(const std::string& sql, bool& IsOk,
                                   const TFieldSelector& field) {
    return SelectAs<double>(sql, IsOk, field, [](const TField& f) { return f.AsFloat(); });
}
double TDbConnection::SelectDoubleDef(const std::string& sql, double def,
                                      const TFieldSelector& field) {
    bool ok = false;
    const double v = SelectDouble(sql, ok, field);
    return ok ? v : def;
}
TDateTime TDbConnection::SelectDateTime(const std::string& sql, bool& IsOk,
                                        const TFieldSelector& field) {
    return SelectAs<TDateTime>(sql, IsOk, field, [](const TField& f) { return f.AsDateTime(); });
}
TDateTime TDbConnection::SelectDateTimeDef(const std::string& sql, TDateTime def,
                                           const TFieldSelector& field) {
    bool ok = false;
    const TDateTime v = SelectDateTime(sql, ok, field);
    return ok ? v : def;
}

void TDbConnection::CloseDataSets() {
    // A copy: closing a dataset may change the list.
    const std::vector<TDbDataSet*> dataSets = FDataSets;
    for (TDbDataSet* ds : dataSets) ds->Close();
}

void TDbConnection::AttachDataSet(TDbDataSet& dataSet) {
    if (std::find(FDataSets.begin(), FDataSets.end(), &dataSet) == FDataSets.end())
        FDataSets.push_back(&dataSet);
}

void TDbConnection::DetachDataSet(TDbDataSet& dataSet) {
    std::erase(FDataSets, &dataSet);
}

void TDbConnection::Acquire() {
    SetConnected(true);
    ++FRefCount;
}

void TDbConnection::Release() {
    if (FRefCount > 0) --FRefCount;
    if (FRefCount == 0 && !FKeepConnection && !FDisconnecting) SetConnected(false);
}

}  // namespace dbclient

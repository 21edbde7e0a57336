#include "dbclient/NativeConnection.h"

#include <algorithm>
#include <climits>

#include "dbclient/DbSqlText.h"
#include "platform/text.h"
#include "tls/OpenSsl.h"

namespace dbclient {

TConvertChar CharSetFromName(std::string_view name) {
    const std::string n = LowerCase(name);
    if (n == "utf8" || n == "utf8mb3" || n == "utf8mb4") return ccUTF8;
    if (n == "latin1") return cc8859_1;
    if (n == "latin2") return cc8859_2;
    if (n == "greek") return cc8859_7;
    if (n == "latin5") return cc8859_9;
    if (n == "cp1250") return ccCp1250;
    if (n == "cp1251") return ccCp1251;
    if (n == "cp1256") return ccCp1256;
    if (n == "cp866") return ccCp866;
    if (n == "koi8r") return ccKoi8_r;
    return ccUndefine;
}

std::uint32_t ClientFlagsOf(TConnectOptions options) {
    std::uint32_t flags = 0;
    if (options.Contains(coCompress)) flags |= CLIENT_COMPRESS;
    if (options.Contains(coFoundRows)) flags |= CLIENT_FOUND_ROWS;
    if (options.Contains(coIgnoreSpaces)) flags |= CLIENT_IGNORE_SPACE;
    if (options.Contains(coInteractive)) flags |= CLIENT_INTERACTIVE;
    if (options.Contains(coNoSchema)) flags |= CLIENT_NO_SCHEMA;
    if (options.Contains(coODBC)) flags |= CLIENT_ODBC;
    if (options.Contains(coSSL)) flags |= CLIENT_SSL;
    return flags;
}

int ServerVersionNumber(std::string_view versionText) {
    std::size_t end = 0;
    while (end < versionText.size() &&
           ((versionText[end] >= '0' && versionText[end] <= '9') || versionText[end] == '.'))
        ++end;
    std::string digits;
    std::size_t start = 0;
    while (start < end) {
        std::size_t dot = versionText.find('.', start);
        if (dot == std::string_view::npos || dot > end) dot = end;
        const std::string_view group = versionText.substr(start, dot - start);
        if (group.size() == 1) digits += '0';
        digits += group;
        start = dot + 1;
    }
    long long v = 0;
    if (digits.empty() || digits.size() > 9 || !TryStrToInt64(digits, v)) return 0;
    return static_cast<int>(v);
}

TNativeConnection::TNativeConnection(TConnectOptions options, std::unique_ptr<TMysqlClient> client)
    : FHandle(std::move(client)), FOptions(options) {}

TNativeConnection::~TNativeConnection() = default;

void TNativeConnection::ReadOptions(const TStringList& params) {
    FDBOptions.User = params.Values("UID");
    FDBOptions.Password = params.Values("PWD");
    FDBOptions.DatabaseName = params.Values("DatabaseName");
    FDBOptions.Port = static_cast<int>(StrToIntDef(params.Values("Port"), 3306));
    FDBOptions.Host = params.Values("Host");
    if (FDBOptions.Host.empty()) FDBOptions.Host = "localhost";
    FDBOptions.TimeOut = static_cast<int>(StrToIntDef(params.Values("TIMEOUT"), 30));
    FDBOptions.ReadWriteTimeout = static_cast<int>(
        std::clamp<long long>(StrToIntDef(params.Values("ReadWriteTimeout"), 0), 0, INT_MAX));
    // MiB to bytes in 64 bits: the login packet carries the size in 32 bits, so 4095 MiB
    // is the most it can hold; a size of 0 would refuse every packet.
    const long long mib = StrToIntDef(params.Values("MaxAllowedPackedSize"), 16);
    if (mib < 1 || mib > 4095) {
        throw EDbNativeException::CreateMsg(this,
                                            "Invalid MaxAllowedPackedSize " + std::to_string(mib) +
                                                ": the largest packet must be from 1 to 4095 MiB");
    }
    FDBOptions.MaxAllowedPacketSize = static_cast<std::uint32_t>(mib << 20);
}

void TNativeConnection::SetSSLFiles(std::string key, std::string cert) {
    FSSL_Key = std::move(key);
    FSSL_Cert = std::move(cert);
}

void TNativeConnection::Login() {
    if (FLoggin) return;
    TMysqlClient& session = *FHandle;
    session.SetConnectTimeout(static_cast<std::uint32_t>(FDBOptions.TimeOut));
    session.SetReadWriteTimeout(FDBOptions.ReadWriteTimeout);
    session.SetMaxAllowedPackedSize(FDBOptions.MaxAllowedPacketSize);
    session.SetUseSSL(FOptions.Contains(coSSL));
    try {
        // The TLS library opens them with the ANSI file functions.
        session.SetSSLKey(platform::text::Utf8ToAnsi(FSSL_Key));
        session.SetSSLCert(platform::text::Utf8ToAnsi(FSSL_Cert));
    } catch (const platform::text::EAnsiConversionError& e) {
        throw EDbNativeException::CreateMsg(this, e.Message());
    }

    FClientFlags = ClientFlagsOf(FOptions);
    session.SetCompress(FOptions.Contains(coCompress));
    if (session.UseSSL() && !tls::LoadOpenSSL())
        throw EDbNativeException::CreateMsg(this, msg::SSslLoadError);

    session.SetMultiResults(true);
    FClientFlags |= CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS;

    session.connect(FDBOptions.Host, FDBOptions.User, FDBOptions.Password, FDBOptions.DatabaseName,
                    static_cast<std::uint32_t>(FDBOptions.Port), "", true, FClientFlags);
    if (session.LastErrorNo() != 0 || !session.Connected())
        throw EDbNativeException::CreateMsg(this, static_cast<int>(session.LastErrorNo()),
                                            session.LastError());

    FLoggin = true;
    FServerVersion = ServerVersionNumber(session.ServerVersion());
    TakeLoginCharSet();
}

void TNativeConnection::TakeLoginCharSet() {
    if (FHandle->Utf8Used()) {
        FDBCharSetName = LoginCharacterSet(FHandle->ServerVersion()).name;
        FDBCharSet = ccUTF8;
    } else {
        FDBCharSetName.clear();
        FDBCharSet = ccUndefine;
    }
}

void TNativeConnection::CheckError() const {
    if (FHandle->LastErrorNo() != 0)
        throw EDbNativeException::CreateMsg(this, static_cast<int>(FHandle->LastErrorNo()),
                                            FHandle->LastError());
}

std::int64_t TNativeConnection::ExecuteDirect(std::string_view sql) {
    TMysqlClient& session = *FHandle;
    bool ok = false;
    std::unique_ptr<TMysqlResult> result = session.query(sql, true, ok);
    result.reset();
    while (ok && session.moreResults()) {
        result = session.nextResult(true, ok);
        result.reset();
    }
    if (!ok) {
        // An empty text runs nothing and leaves no error; anything else failed.
        if (session.LastErrorNo() == 0 && sql.empty()) return 0;
        CheckError();
        throw EDbNativeException::CreateEngine(DBIERR_QRYEMPTY);
    }
    const std::int64_t affected = session.AffectedRows();
    if (IsCharsetStatement(sql)) ReadResultsCharSet();
    return affected;
}

std::unique_ptr<TMysqlResult> TNativeConnection::QueryStored(std::string_view sql) {
    TMysqlClient& session = *FHandle;
    bool ok = false;
    std::unique_ptr<TMysqlResult> result = session.query(sql, true, ok);
    bool moreOk = ok;
    while (moreOk && session.moreResults()) session.nextResult(true, moreOk).reset();
    if (!ok) CheckError();
    if (!ok || !result) throw EDbNativeException::CreateEngine(DBIERR_QRYEMPTY);
    return result;
}

void TNativeConnection::ReadResultsCharSet() {
    std::unique_ptr<TMysqlResult> rows = QueryStored("SHOW VARIABLES LIKE 'character_set%'");
    const std::string wanted = FServerVersion <= 40100 ? "character_set" : "character_set_results";
    for (std::int64_t i = 0; i < rows->RowsCount(); ++i) {
        rows->SetRecNo(i);
        const char* name = rows->FieldValue(0);
        if (name == nullptr || LowerCase(name) != wanted) continue;
        const char* value = rows->FieldValue(1);
        FDBCharSetName = value ? value : "";
        FDBCharSet = CharSetFromName(FDBCharSetName);
        break;
    }
    FHandle->SetUtf8Used(FDBCharSet == ccUTF8);
}

void TNativeConnection::StartTransaction() {
    if (FInTrans) return;
    ExecuteDirect("START TRANSACTION");
    FInTrans = true;
}

void TNativeConnection::Commit() {
    ExecuteDirect("COMMIT");
    FInTrans = false;
}

void TNativeConnection::Rollback() {
    ExecuteDirect("ROLLBACK");
    FInTrans = false;
}

}  // namespace dbclient

#include "dbclient/DbErrors.h"

#include "dbclient/DbEngine.h"
#include "dbclient/NativeConnection.h"

namespace dbclient {

std::string_view EngineErrorText(std::uint16_t code) {
    switch (code) {
        case DBIERR_BOF:
            return "At beginning of table.";
        case DBIERR_EOF:
            return "At end of table.";
        case DBIERR_NOCURRREC:
            return "No current record.";
        case DBIERR_RECNOTFOUND:
            return "Could not find record.";
        case DBIERR_ENDOFBLOB:
            return "End of BLOB.";
        case DBIERR_INVALIDPARAM:
            return "Invalid parameter.";
        case DBIERR_INVALIDHNDL:
            return "Invalid handle to the function.";
        case DBIERR_NOSUCHINDEX:
            return "Index does not exist.";
        case DBIERR_INVALIDBLOBOFFSET:
            return "Invalid offset into the BLOB.";
        case DBIERR_INVALIDRECSTRUCT:
            return "Invalid record structure.";
        case DBIERR_NOSUCHTABLE:
            return "Table does not exist.";
        case DBIERR_INVALIDFILTHANDLE:
            return "Filter handle is invalid.";
        case DBIERR_NOTSUFFTABLERIGHTS:
            return "Insufficient table rights for operation. Password required.";
        case DBIERR_NOTABLOB:
            return "Field is not a BLOB.";
        case DBIERR_TABLEREADONLY:
            return "Table is read only.";
        case DBIERR_NOASSOCINDEX:
            return "No associated index.";
        case DBIERR_QRYEMPTY:
            return "Query string is empty.";
        case DBIERR_NOTSUPPORTED:
            return "Capability not supported.";
        case DBIERR_UPDATEABORT:
            return "Update aborted.";
        default:
            return "Unknown error";
    }
}

std::string FormatMsg(std::string_view pattern, std::string_view arg) {
    std::string out(pattern);
    const auto at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, arg);
    return out;
}

namespace {

// The two message forms of an engine failure: the session's error when there is one,
// otherwise the engine code with the failure's text and the code's own text.
struct EngineFailure {
    std::string message;
    int mysqlErrorCode = 0;
};

EngineFailure DescribeEngineFailure(const TDbEngine& engine, std::uint16_t code) {
    if (!engine.NativeMsg().empty() && engine.NativeStatus() > 0)
        return {"MySQL Error Code: (" + std::to_string(engine.NativeStatus()) + ")\r\n" +
                    engine.NativeMsg(),
                engine.NativeStatus()};
    return {"DBI Error Code: (" + std::to_string(code) + ")\r\n" + engine.NativeMsg() + " \r\n" +
                std::string(EngineErrorText(code)),
            0};
}

}  // namespace

EDbError::EDbError(std::string message, std::uint16_t errorCode, int mysqlErrorCode)
    : EDbException(std::move(message)), FErrorCode(errorCode), FMySQLErrorCode(mysqlErrorCode) {}

EDbError::EDbError(const TDbEngine& engine, std::uint16_t errorCode)
    : EDbError(FromEngine(engine, errorCode)) {}

EDbError EDbError::FromEngine(const TDbEngine& engine, std::uint16_t errorCode) {
    EngineFailure f = DescribeEngineFailure(engine, errorCode);
    return EDbError(std::move(f.message), errorCode, f.mysqlErrorCode);
}

EDbError::EDbError(const std::string& aMsg) : EDbException(aMsg) {}

EDbError::EDbError(int aMySQLErrorCode, const std::string& aMySQLErrorMsg)
    : EDbException("MySQL Error(" + std::to_string(aMySQLErrorCode) + "): " + aMySQLErrorMsg),
      FMySQLErrorCode(aMySQLErrorCode) {}

ENoResultSet::ENoResultSet(int aRequestedMultiResultsetNo, int)
    : EDbException("Error creating cursor handle (MultiResultsetNo=" +
                   std::to_string(aRequestedMultiResultsetNo) + ")"),
      FRequestedMultiResultsetNo(aRequestedMultiResultsetNo) {}

EDbNativeException EDbNativeException::CreateEngine(std::uint16_t ECode) {
    EDbNativeException e;
    e.FEngineErrorCode = ECode;
    e.FIsEngineCode = true;
    return e;
}

EDbNativeException EDbNativeException::CreateEngineMsg(std::uint16_t ECode,
                                                       const std::string& EMessage) {
    EDbNativeException e = CreateEngine(ECode);
    e.FNativeErrorMsg = EMessage;
    return e;
}

EDbNativeException EDbNativeException::Create(const TNativeConnection* aConn) {
    EDbNativeException e;
    e.FNativeConn = aConn;
    if (aConn != nullptr) {
        e.FNativeErrorCode = aConn->LastErrorNo();
        e.FNativeErrorMsg = aConn->LastError();
    }
    if (e.FNativeErrorCode != 0) e.FEngineErrorCode = DBIERR_INVALIDPARAM;
    return e;
}

EDbNativeException EDbNativeException::CreateMsg(const TNativeConnection* aConn,
                                                 const std::string& ErrorMsg) {
    EDbNativeException e = Create(aConn);
    e.FNativeErrorMsg = ErrorMsg;
    e.FEngineErrorCode = DBIERR_NATIVE;
    return e;
}

EDbNativeException EDbNativeException::CreateMsg(const TNativeConnection* aConn, int errorNo,
                                                 const std::string& ErrorMsg) {
    EDbNativeException e;
    e.FNativeConn = aConn;
    e.FNativeErrorCode = errorNo;
    e.FNativeErrorMsg = ErrorMsg;
    e.FEngineErrorCode = DBIERR_NATIVE;
    return e;
}

void DatabaseError(const std::string& text, const std::string& componentName) {
    if (componentName.empty()) throw EDatabaseError(text);
    throw EDatabaseError(componentName + ": " + text);
}

}  // namespace dbclient

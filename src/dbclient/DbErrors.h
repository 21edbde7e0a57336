// Exceptions of the database components and the engine's result codes.
//
// A failure travels upwards in three forms: the native layer raises the silent
// EDbNativeException, the engine turns it into a 16-bit result code (keeping the
// server's number and text), and the components raise EDbError from that code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/exception.h"

namespace dbclient {

class TDbEngine;
class TNativeConnection;

// Misuse detected by the components themselves.
class EDatabaseError : public platform::Exception {
  public:
    using platform::Exception::Exception;
};

// Common base of the library's own errors.
class EDbException : public EDatabaseError {
  public:
    using EDatabaseError::EDatabaseError;
};

// Engine result codes (0 = success).
enum : std::uint16_t {
    DBIERR_NONE = 0,
    DBIERR_NATIVE = 1001,  // an error reported by the session
    DBIERR_BOF = 8705,
    DBIERR_EOF = 8706,
    DBIERR_NOCURRREC = 8709,
    DBIERR_RECNOTFOUND = 8710,
    DBIERR_ENDOFBLOB = 8711,
    DBIERR_INVALIDPARAM = 9986,
    DBIERR_INVALIDHNDL = 9990,
    DBIERR_NOSUCHINDEX = 9997,
    DBIERR_INVALIDBLOBOFFSET = 9998,
    DBIERR_INVALIDRECSTRUCT = 10003,
    DBIERR_NOSUCHTABLE = 10024,
    DBIERR_INVALIDFILTHANDLE = 10050,
    DBIERR_NOTSUFFTABLERIGHTS = 10498,
    DBIERR_NOTABLOB = 10753,
    DBIERR_TABLEREADONLY = 10763,
    DBIERR_NOASSOCINDEX = 10764,
    DBIERR_QRYEMPTY = 11886,
    DBIERR_NOTSUPPORTED = 12289,
    DBIERR_UPDATEABORT = 13062,
};

// The text of an engine result code; "Unknown error" for any code without one.
std::string_view EngineErrorText(std::uint16_t code);

// Every server, client and engine failure as the application sees it.
class EDbError : public EDbException {
  public:
    // From the engine's last failure and the result code it returned.
    EDbError(const TDbEngine& engine, std::uint16_t errorCode);
    // From a message text alone.
    explicit EDbError(const std::string& aMsg);
    // From a server error number and text: "MySQL Error(%d): %s".
    EDbError(int aMySQLErrorCode, const std::string& aMySQLErrorMsg);

    std::uint16_t ErrorCode() const { return FErrorCode; }
    int MySQLErrorCode() const { return FMySQLErrorCode; }

  private:
    EDbError(std::string message, std::uint16_t errorCode, int mysqlErrorCode);
    static EDbError FromEngine(const TDbEngine& engine, std::uint16_t errorCode);

    std::uint16_t FErrorCode = 0;
    int FMySQLErrorCode = 0;
};

// Open of a statement that returned no result set.
class ENoResultSet : public EDbException {
  public:
    explicit ENoResultSet(int aRequestedMultiResultsetNo, int = 0);
    int RequestedMultiResultsetNo() const { return FRequestedMultiResultsetNo; }

  private:
    int FRequestedMultiResultsetNo;
};

// Internal failure of the native layer; silent, so that it never shows a message if it
// escapes. The engine converts it into a result code.
class EDbNativeException : public platform::EAbort {
  public:
    static EDbNativeException CreateEngine(std::uint16_t ECode);
    static EDbNativeException CreateEngineMsg(std::uint16_t ECode, const std::string& EMessage);
    // The session error number and text of the connection (engine code 9986 when the
    // number is not 0).
    static EDbNativeException Create(const TNativeConnection* aConn);
    // As Create, then the given text and engine code 1001.
    static EDbNativeException CreateMsg(const TNativeConnection* aConn,
                                        const std::string& ErrorMsg);
    // The same, from a session error number and text read by the caller.
    static EDbNativeException CreateMsg(const TNativeConnection* aConn, int errorNo,
                                        const std::string& ErrorMsg);

    int NativeErrorCode() const { return FNativeErrorCode; }
    const std::string& NativeErrorMsg() const { return FNativeErrorMsg; }
    std::uint16_t EngineErrorCode() const { return FEngineErrorCode; }
    bool IsEngineCode() const { return FIsEngineCode; }
    const TNativeConnection* NativeConn() const { return FNativeConn; }

  private:
    EDbNativeException() = default;

    const TNativeConnection* FNativeConn = nullptr;
    int FNativeErrorCode = 0;
    std::uint16_t FEngineErrorCode = 0;
    bool FIsEngineCode = false;
    std::string FNativeErrorMsg;
};

// Raises EDatabaseError with `text`, prefixed by "<name>: " when the component has a name.
[[noreturn]] void DatabaseError(const std::string& text, const std::string& componentName = {});

// The texts raised by the components.
namespace msg {
inline constexpr const char* SDatabaseOpen = "Cannot perform this operation on an open database";
inline constexpr const char* SDatabaseClosed = "Cannot perform this operation on a closed database";
inline constexpr const char* SDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* SDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* SEmptySQLStatement = "No SQL statement available";
inline constexpr const char* SDatabaseNotSet = "(%s) property Database is not set!";
inline constexpr const char* SFieldNotFound = "Field '%s' not found";
inline constexpr const char* SLoginError = "Cannot connect to database '%s'";
inline constexpr const char* SEngineNotInitialized = "Engine not initialized";
inline constexpr const char* SCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* SSslLoadError = "Error load SSL Library";
inline constexpr const char* SNotOwned = "Cannot update, %s is not owned by %s";
}  // namespace msg

// Fills the single "%s" of a message pattern.
std::string FormatMsg(std::string_view pattern, std::string_view arg);

}  // namespace dbclient

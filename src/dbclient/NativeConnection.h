// The native connection: one logged-in client session with the settings of a connection
// component translated into the session's options and capability flags. Failures are
// raised as the internal EDbNativeException; the engine converts them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "dbclient/DbErrors.h"
#include "dbclient/DbSet.h"
#include "dbclient/DbStrings.h"
#include "dbclient/MysqlClient.h"

namespace dbclient {

enum class TConnectOption {
    coCompress,
    coFoundRows,
    coIgnoreSpaces,
    coInteractive,
    coNoSchema,
    coODBC,
    coSSL
};
using enum TConnectOption;
using TConnectOptions = TSet<TConnectOption>;

enum class TDbDatasetOption { dsoZeroDateAsNull, dsoFTStringAsVarchar };
using enum TDbDatasetOption;
using TDbDatasetOptions = TSet<TDbDatasetOption>;

// Character set of the results; only ccUTF8 changes how values are read.
enum class TConvertChar {
    ccUndefine,
    cc8859_1,
    cc8859_2,
    cc8859_5,
    cc8859_7,
    cc8859_9,
    ccCp1250,
    ccCp1251,
    ccCp1256,
    ccCp866,
    ccKoi8_r,
    ccUTF8,
};
using enum TConvertChar;

// The MySQL character set name mapped to the results character set.
TConvertChar CharSetFromName(std::string_view name);

// The capability flags a set of connect options asks for (without the two multi flags).
std::uint32_t ClientFlagsOf(TConnectOptions options);

// The server version text as a number: each dot-separated group of the leading digits
// and dots written with at least two digits ("5.1.73-log" gives 50173).
int ServerVersionNumber(std::string_view versionText);

struct TDBOptions {
    std::string User;
    std::string Password;
    std::string DatabaseName;
    int Port = 3306;
    int TimeOut = 30;
    int ReadWriteTimeout = 0;  // milliseconds, 0: none
    std::uint32_t MaxAllowedPacketSize = 16u << 20;
    std::string Host;
};

class TNativeConnection {
  public:
    TNativeConnection(TConnectOptions options, std::unique_ptr<TMysqlClient> client);
    ~TNativeConnection();
    TNativeConnection(const TNativeConnection&) = delete;
    TNativeConnection& operator=(const TNativeConnection&) = delete;

    // Reads the settings list ("UID", "PWD", "DatabaseName", "Port", "Host", "TIMEOUT",
    // "MaxAllowedPackedSize", "ReadWriteTimeout") into DBOptions.
    void ReadOptions(const TStringList& params);
    void SetSSLFiles(std::string key, std::string cert);
    // Logs in with DBOptions; nothing when already logged in.
    void Login();

    TMysqlClient& Client() { return *FHandle; }
    const TMysqlClient& Client() const { return *FHandle; }
    const TDBOptions& DBOptions() const { return FDBOptions; }
    std::uint32_t ClientFlags() const { return FClientFlags; }
    bool LoggedIn() const { return FLoggin; }
    int ServerVersion() const { return FServerVersion; }
    TConvertChar DBCharSet() const { return FDBCharSet; }
    const std::string& ResultsCharSetName() const { return FDBCharSetName; }
    TDbDatasetOptions DatasetOptions() const { return FDatasetOptions; }
    void SetDatasetOptions(TDbDatasetOptions v) { FDatasetOptions = v; }
    bool InTransaction() const { return FInTrans; }

    unsigned LastErrorNo() const { return FHandle->LastErrorNo(); }
    std::string LastError() const { return FHandle->LastError(); }
    // Raises the session's last error when there is one.
    void CheckError() const;

    // Runs a statement text and reads and discards all its results; raises the first
    // failure. Gives the affected-rows count. A statement that changes the character set
    // makes the connection re-read the results character set.
    std::int64_t ExecuteDirect(std::string_view sql);
    // Runs a statement that returns rows and gives its stored result; raises on failure
    // and when the statement returns none.
    std::unique_ptr<TMysqlResult> QueryStored(std::string_view sql);
    // Re-reads the results character set ("SHOW VARIABLES LIKE 'character_set%'") and tells
    // the session whether results are UTF-8.
    void ReadResultsCharSet();
    // The results character set is the one the session's login announced (UTF-8), or
    // unknown after a login that announced none; after every login and reconnect.
    void TakeLoginCharSet();

    void StartTransaction();
    void Commit();
    void Rollback();

  private:
    std::unique_ptr<TMysqlClient> FHandle;
    TConnectOptions FOptions;
    std::string FSSL_Key, FSSL_Cert;
    int FServerVersion = 0;
    TConvertChar FDBCharSet = ccUndefine;
    std::string FDBCharSetName;
    bool FLoggin = false;
    bool FInTrans = false;
    TDBOptions FDBOptions;
    TDbDatasetOptions FDatasetOptions;
    std::uint32_t FClientFlags = 0;
};

}  // namespace dbclient

// One client session with a MySQL server: connection settings, handshake and login,
// commands, statements and their results, transparent reconnection, close. Failures
// are reported by a false (or empty) result with the number and text left in
// LastErrorNo() / LastError().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbclient/MysqlFieldDef.h"
#include "dbclient/MysqlLogin.h"
#include "dbclient/MysqlNet.h"
#include "dbclient/MysqlProtocol.h"
#include "dbclient/MysqlResult.h"

namespace dbclient {

enum TMysql_Status {
    MYSQL_STATUS_READY = 0,       // a command may be sent
    MYSQL_STATUS_GET_RESULT = 1,  // column descriptions read, rows not yet
    MYSQL_STATUS_USE_RESULT = 2,  // a row-by-row result is being read
};

using TReconnectEvent = std::function<void()>;

// Capability flags the session always announces.
inline constexpr std::uint32_t kDefaultClientFlag = 0xE285;

class TMysqlClient {
  public:
    TMysqlClient();
    ~TMysqlClient();
    TMysqlClient(const TMysqlClient&) = delete;
    TMysqlClient& operator=(const TMysqlClient&) = delete;

    // Opens the connection and logs in. True at once when already connected.
    bool connect(const std::string& ahost, const std::string& auser, const std::string& apasswd,
                 const std::string& adb, std::uint32_t aport, const std::string& aunix_socket,
                 bool atrysocket, std::uint32_t aclient_flag);
    // Connects with the stored settings.
    bool connect();
    // Connects again after a lost connection, when allowed (ShouldReconnect and not in a
    // transaction); fires OnReconnect after success.
    bool reconnect();
    // Sends COM_QUIT (when connected) and closes; the session returns to its defaults.
    void close();

    bool select_db(const std::string& newdb);
    bool change_user(const std::string& NewUser, const std::string& NewPasswd,
                     const std::string& NewDb);
    bool ping();
    bool create_db(const std::string& db);
    bool drop_db(const std::string& db);
    bool refresh(std::uint32_t options);
    bool shutdown();
    // The server's statistics text; empty on failure.
    std::string stat();
    std::unique_ptr<TMysqlResult> list_processes();
    bool kill(std::uint32_t pid);
    bool dump_debug_info();

    // Sends one command: 0, or -1 with the error set. Unless skip_check is set the
    // answer is read (it is then at the packet layer's read position).
    int send_command(std::uint8_t command, std::string_view arg, bool skip_check, bool retry);
    bool read_auth_answer();
    // Takes the oldest TLS library error into the error fields; false when there is none.
    bool SSL_ReadError();

    // Runs a statement. Gives the result set (stored or used), or none for a statement
    // without one; ExecutedOk tells whether the statement succeeded.
    std::unique_ptr<TMysqlResult> query(std::string_view aQuery, bool StoreResult,
                                        bool& ExecutedOk);
    // The server has further results of the last statement text.
    bool moreResults() const;
    std::unique_ptr<TMysqlResult> nextResult(bool StoreResult, bool& ExecutedOk);

    const std::string& LastError() const { return fnet.last_error(); }
    unsigned LastErrorNo() const { return fnet.last_errno(); }
    bool Connected() const { return fnet.net_connected(); }
    bool IsSSLUsed() const { return fnet.vio_type() == VIO_TYPE_SSL; }
    static std::string ClientVersion() { return "5.1"; }
    unsigned ProtocolVersion() const { return fnet.protocol_version(); }

    // Settings whose change closes an open connection (no COM_QUIT).
    const std::string& Host() const { return fhost; }
    void SetHost(const std::string& value);
    const std::string& User() const { return fuser; }
    void SetUser(const std::string& value);
    const std::string& Password() const { return fpasswd; }
    void SetPassword(const std::string& value);
    const std::string& UnixSocket() const { return funix_socket; }
    void SetUnixSocket(const std::string& value);
    std::uint32_t Port() const { return fport; }
    void SetPortNumber(std::uint32_t value);
    std::uint32_t ClientFlag() const { return fclient_flag; }
    void SetClientFlag(std::uint32_t value);
    bool UseNamedPipe() const { return fnamed_pipe; }
    void SetUseNamedPipe(bool value);
    bool UseSSL() const { return fuse_ssl; }
    void SetUseSSL(bool value);
    const std::string& SSLKey() const { return fssl_key; }
    void SetSSLKey(const std::string& value);
    const std::string& SSLCert() const { return fssl_cert; }
    void SetSSLCert(const std::string& value);
    // In: the cipher list asked for; after a TLS login: the negotiated cipher.
    const std::string& SSLCipher() const { return fssl_cipher; }
    void SetSSLCipher(const std::string& value);
    const std::string& SSLCa() const { return fssl_ca; }
    void SetSSLCa(const std::string& value);
    const std::string& SSLCaPath() const { return fssl_capath; }
    void SetSSLCaPath(const std::string& value);
    bool Compress() const { return fcompress; }
    void SetCompress(bool value);

    // Settings that are only stored.
    bool TrySockets() const { return ftrysock; }
    void SetTrySockets(bool value) { ftrysock = value; }
    bool ShouldReconnect() const { return freconnect; }
    void SetShouldReconnect(bool value) { freconnect = value; }
    std::uint32_t ConnectTimeout() const { return fconnect_timeout; }
    void SetConnectTimeout(std::uint32_t value) { fconnect_timeout = value; }
    std::int32_t NullLength() const { return FNullLength; }
    void SetNullLength(std::int32_t value) { FNullLength = value; }
    const TReconnectEvent& OnReconnect() const { return FOnReconnect; }
    void SetOnReconnect(TReconnectEvent value) { FOnReconnect = std::move(value); }
    // Whether a server's request for a local file (LOAD DATA LOCAL INFILE) is served.
    // Off by default: the request is refused and nothing of the file is sent.
    bool LocalInfile() const { return FLocalInfile; }
    void SetLocalInfile(bool value) { FLocalInfile = value; }

    // The current database; setting it while connected selects it on the server.
    const std::string& Db() const { return fdb; }
    void SetDb(const std::string& value);
    bool NoTimeOut() const { return fnet.NoTimeOut(); }
    void SetNoTimeOut(bool value) { fnet.SetNoTimeOut(value); }
    // The transport's read and write time-out in milliseconds (0: none), see TMysqlVio.
    int ReadWriteTimeout() { return fnet.vio().ReadWriteTimeout(); }
    void SetReadWriteTimeout(int milliseconds) { fnet.vio().SetReadWriteTimeout(milliseconds); }
    bool MultiThreaded() const { return FThreaded; }
    void SetMultiThreaded(bool value);
    bool MultiResults() const {
        return (fclient_flag & (CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS)) != 0;
    }
    void SetMultiResults(bool value);
    std::uint32_t MaxAllowedPackedSize() const { return FMaxAllowedPackedSize; }
    void SetMaxAllowedPackedSize(std::uint32_t value);
    // Statements are sent UTF-8 encoded, else in the system's ANSI code page: true from
    // a 4.1 login on (it announces a UTF-8 character set); the connection component
    // changes it after a "SET NAMES".
    bool Utf8Used() const { return FUtf8Used; }
    void SetUtf8Used(bool value) { FUtf8Used = value; }

    TMysql_Status Status() const { return fstatus; }
    std::uint32_t ThreadId() const { return fthread_id; }
    std::int64_t AffectedRows() const { return faffected_rows; }
    std::int64_t LastInsertId() const { return finsert_id; }
    std::int32_t WarningCount() const { return FWarningCount; }
    const std::string& ServerVersion() const { return fserver_version; }
    std::uint32_t ServerCapabilities() const { return fserver_capabilities; }
    std::int32_t ServerStatus() const { return fserver_status; }
    std::uint32_t ServerLanguage() const { return fserver_language; }
    std::int64_t ExtraInfo() const { return fextra_info; }
    const std::string& Info() const { return finfo; }
    bool Use410Password() const { return FUse410Password; }

  private:
    friend class TMysqlResult;

    using Lock = std::unique_lock<std::recursive_mutex>;
    // Holds the session's lock while threaded; an empty lock otherwise.
    Lock Guard();

    // Closes the packet layer when a connection setting changes on an open session.
    template <typename T>
    void ChangeSetting(T& field, const T& value, bool applies = true);
    // Marks a server answer that cannot be read as such: closes the connection, 2013.
    void malformed_answer();

    // The login (MysqlLogin.cpp).
    bool real_connect();
    // The password field of the login and change-of-user packets, with the method that
    // computed it (none for the scrambles before pluggable authentication); none with the
    // error set when it cannot be computed.
    std::optional<std::string> password_field(const std::string& password,
                                              std::unique_ptr<TAuthPlugin>& plugin);
    // Sends one packet of an authentication round; false with 2013 when it fails.
    bool send_auth_packet(std::string_view packet);
    // Ends a login the client cannot go on with: closes the connection, sets the error.
    void auth_failed(unsigned errnum, const std::string& text);

    // Reading the answer to a statement (MysqlResultReader.cpp).
    int read_result_header();
    // Reads the answer to a statement (or the next result of a chain) as a result set.
    std::unique_ptr<TMysqlResult> read_result(bool StoreResult, bool& ExecutedOk);
    // Takes affected rows, insert id, status, warnings and message from an OK packet.
    void apply_ok_packet(ByteSpan packet);
    // Second half of read_result_header: the answer already read, `length` bytes.
    int parse_result_header(long length);
    // Reads packets until an end packet, handing the values of each to `row`.
    // 0 done, -1 failed (error set).
    template <typename RowHandler>
    int read_result_rows(std::size_t count, RowHandler&& row);
    bool unpack_field_defs(std::uint32_t count);
    std::unique_ptr<TMysqlResult> store_result_set();
    std::unique_ptr<TMysqlResult> use_result_set();
    // Used results: 0 row read, 1 end, -1 error.
    int read_next_row(std::size_t count, std::vector<std::uint32_t>& buffer, TMysql_Row& row,
                      std::vector<std::uint32_t>& lengths);
    void free_field_defs();
    // Reads and drops the rest of a used result, up to its end packet.
    void skip_used_rows();
    // Called by a used result that ended or is destroyed.
    void release_used_result(TMysqlResult* result, std::int64_t rows);
    // Takes warnings and status from an end packet.
    void take_end_packet(ByteSpan packet);

    // Local files asked for by the server (MysqlLocalInfile.cpp).
    bool send_local_file(const std::string& fileName);
    // Ends a local-file transfer at once and sets the refusal error; always false.
    bool refuse_local_file();

    ByteSpan answer(long length) const;

    TMysqlNet fnet;
    std::string fhost, fuser, fpasswd, funix_socket, fdb;
    std::uint32_t fport = 3306;
    std::string fscramble_buff;
    std::uint32_t fthread_id = 0;
    std::int64_t faffected_rows = 0;
    std::int64_t finsert_id = 0;
    TMysql_Status fstatus = MYSQL_STATUS_READY;
    bool freconnect = true;
    bool fnamed_pipe = false;
    bool ftrysock = false;
    std::uint32_t fconnect_timeout = 30;
    bool fcompress = true;
    std::uint32_t fclient_flag = kDefaultClientFlag;
    std::string fserver_version;
    std::uint32_t fserver_capabilities = 0;
    std::int32_t fserver_status = SERVER_STATUS_AUTOCOMMIT;
    std::uint32_t fserver_language = 0;
    std::int64_t fextra_info = 0;
    std::string finfo;
    std::int32_t ffield_count = 0;
    std::vector<TMysql_FieldDef> ffields;
    TMysqlResult* fusedresult = nullptr;  // not owned: the caller owns its results
    bool fuse_ssl = false;
    bool FUse410Password = false;
    // The server announces pluggable authentication, and the method its greeting names.
    bool fplugin_auth = false;
    std::string fserver_auth_plugin;
    // The method of the login or change of user in progress.
    std::unique_ptr<TAuthPlugin> fauth_plugin;
    bool FThreaded = false;
    std::unique_ptr<std::recursive_mutex> FCriticalSection;
    std::int32_t FNullLength = 0;
    std::string fssl_key, fssl_cert, fssl_cipher, fssl_ca, fssl_capath;
    std::int32_t FWarningCount = 0;
    std::uint32_t FMaxAllowedPackedSize = 16777216;
    TReconnectEvent FOnReconnect;
    bool FUtf8Used = false;
    bool FLocalInfile = false;
    long fanswer_length = 0;  // length of the answer send_command read
    std::vector<std::optional<std::string_view>> frow_values;  // scratch: values of one row
};

}  // namespace dbclient

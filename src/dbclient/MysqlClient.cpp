// The client session: login, commands, statements and their results; see MysqlClient.h.
#include "dbclient/MysqlClient.h"

#include <algorithm>
#include <new>
#include <optional>

#include "dbclient/ClientErrors.h"
#include "dbclient/Scramble.h"
#include "dbclient/SqlEscape.h"
#include "platform/exception.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "tls/OpenSsl.h"

namespace dbclient {

namespace {

constexpr std::size_t kMaxUserLength = 32;
constexpr std::size_t kMaxDbLength = 64;
// Largest packet of a local file sent to the server.
constexpr std::size_t kLocalFileChunk = 61440;
// Client error for TLS that was asked for and could not be set up.
constexpr unsigned kSslConnectionError = 2026;
// Numbers that accompany the texts of a local file that cannot be opened or read.
constexpr unsigned kFileNotFoundErrno = 29;
constexpr unsigned kFileReadErrno = 2;

void PutLE(std::string& out, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string_view AsText(ByteSpan bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

TMysqlClient::TMysqlClient() {
    fnet.SetMaxAllowedPacketSize(FMaxAllowedPackedSize);
}

TMysqlClient::~TMysqlClient() {
    auto lock = Guard();
    close();
}

TMysqlClient::Lock TMysqlClient::Guard() {
    if (FThreaded && FCriticalSection) return Lock(*FCriticalSection);
    return Lock();
}

ByteSpan TMysqlClient::answer(long length) const {
    const char* pos = fnet.read_pos();
    if (!pos || length <= 0) return {};
    return {reinterpret_cast<const std::uint8_t*>(pos), static_cast<std::size_t>(length)};
}

void TMysqlClient::malformed_answer() {
    fnet.net_close();
    fnet.SetClientError(CR_SERVER_LOST);
}

// ---------------------------------------------------------------------------------------
// Connecting

bool TMysqlClient::connect(const std::string& ahost, const std::string& auser,
                           const std::string& apasswd, const std::string& adb, std::uint32_t aport,
                           const std::string& aunix_socket, bool atrysocket,
                           std::uint32_t aclient_flag) {
    auto lock = Guard();
    if (Connected()) return true;
    if (ahost.empty() && fhost.empty()) {
        fnet.SetError(CR_UNKNOWN_HOST, ClientErrorMessage(CR_UNKNOWN_HOST, "", 0));
        return false;
    }
    if (!ahost.empty()) fhost = ahost;
    fuser = auser;
    fpasswd = apasswd;
    fdb = adb;
    fport = aport;
    funix_socket = aunix_socket;
    fclient_flag = aclient_flag;
    ftrysock = atrysocket;
    return real_connect();
}

bool TMysqlClient::connect() {
    auto lock = Guard();
    if (Connected()) return true;
    if (fhost.empty()) {
        fnet.SetError(CR_UNKNOWN_HOST, ClientErrorMessage(CR_UNKNOWN_HOST, "", 0));
        return false;
    }
    return real_connect();
}

bool TMysqlClient::real_connect() {
    // A new connection has nothing pending from an old one.
    free_field_defs();
    fserver_status = SERVER_STATUS_AUTOCOMMIT;
    if (fnamed_pipe) {
        fnet.net_open(VIO_TYPE_NAMEDPIPE, fhost, funix_socket, fport, fconnect_timeout, ftrysock);
        if (fnet.vio_type() == VIO_TYPE_NAMEDPIPE) {
            if (fhost.empty()) fhost = ".";
            if (funix_socket.empty()) funix_socket = "MySQL";
        } else if (Connected()) {
            fnamed_pipe = false;
            funix_socket.clear();
        }
    } else {
        fnet.net_open(VIO_TYPE_TCPIP, fhost, {}, fport, fconnect_timeout, true);
        funix_socket.clear();
    }
    if (!Connected()) return false;

    // The server speaks first.
    const long length = fnet.net_safe_read(fclient_flag);
    if (length < 0) {
        close();
        return false;
    }
    const TMysqlGreeting greeting = ParseGreeting(answer(length));
    fnet.SetProtocol_version(greeting.protocol_version);
    if (greeting.protocol_version != 10 && greeting.protocol_version != 9) {
        fnet.SetError(CR_VERSION_ERROR,
                      ClientErrorMessage(CR_VERSION_ERROR, int{greeting.protocol_version}, 10));
        close();
        return false;
    }
    fserver_version = greeting.server_version;
    FUse410Password = IsVersion410(fserver_version);
    fthread_id = greeting.thread_id;
    fscramble_buff = greeting.scramble;
    fserver_capabilities = greeting.server_capabilities;
    if (greeting.has_status) {
        fserver_language = greeting.server_language;
        fserver_status = greeting.server_status;
        FWarningCount = 0;
    }

    // Capabilities: ours, narrowed to what the server offers.
    fclient_flag |= kDefaultClientFlag;
    if (fuse_ssl) fclient_flag |= CLIENT_SSL;
    if (!fdb.empty()) fclient_flag |= CLIENT_CONNECT_WITH_DB;
    if ((fserver_capabilities & CLIENT_COMPRESS) && (fcompress || (fclient_flag & CLIENT_COMPRESS)))
        fclient_flag |= CLIENT_COMPRESS;
    else
        fclient_flag &= ~CLIENT_COMPRESS;
    if ((fclient_flag & CLIENT_PROTOCOL_41) && !(fserver_capabilities & 0x2C000))
        fclient_flag &= ~std::uint32_t{0x3C200};
    if (fclient_flag & CLIENT_SSL) {
        if (!(fserver_capabilities & CLIENT_SSL)) {
            // TLS was asked for: going on in clear text would hand the session to
            // whoever removed the flag on the way.
            fclient_flag &= ~CLIENT_SSL;
            fnet.SetError(kSslConnectionError,
                          "SSL connection error: the server does not offer TLS");
            close();
            return false;
        }
    }

    std::string packet;
    if (fclient_flag & CLIENT_RESERVED) {
        PutLE(packet, fclient_flag, 4);
        PutLE(packet, FMaxAllowedPackedSize, 4);
        packet += static_cast<char>(LoginCharacterSet(fserver_version).number);
        packet.append(23, '\0');
    } else {
        PutLE(packet, fclient_flag & 0xFFFF, 2);
        PutLE(packet, FMaxAllowedPackedSize & 0xFFFFFF, 3);
    }

    if (fclient_flag & CLIENT_SSL) {
        if (fnet.my_net_write(packet) != 0 || fnet.net_flush() != 0) {
            fnet.SetClientError(CR_SERVER_LOST);
            close();
            return false;
        }
        fnet.SwitchToSSL(fssl_key, fssl_cert, fssl_ca, fssl_capath, fssl_cipher, fconnect_timeout);
        if (!IsSSLUsed()) {
            // The request for TLS (fuse_ssl) stays, so a later reconnect asks again.
            fclient_flag &= ~CLIENT_SSL;
            if (!SSL_ReadError() && LastErrorNo() == 0)
                fnet.SetError(kSslConnectionError,
                              "SSL connection error: the TLS handshake failed");
            close();
            return false;
        }
    }

    packet += fuser.substr(0, kMaxUserLength);
    packet += '\0';
    packet += password_field(fpasswd);
    if (!fdb.empty() && (fserver_capabilities & CLIENT_CONNECT_WITH_DB))
        packet += fdb.substr(0, kMaxDbLength);
    packet += '\0';
    if (fnet.my_net_write(packet) != 0 || fnet.net_flush() != 0) {
        fnet.SetClientError(CR_SERVER_LOST);
        close();
        return false;
    }

    if (!read_auth_answer()) {
        close();
        return false;
    }
    fnet.SetCompress((fclient_flag & CLIENT_COMPRESS) != 0);
    fstatus = MYSQL_STATUS_READY;
    // The 4.1 login announced a UTF-8 character set: statements and results are UTF-8
    // until a "SET NAMES" says otherwise.
    FUtf8Used = (fclient_flag & CLIENT_RESERVED) != 0;

    if (!fdb.empty() && !(fserver_capabilities & CLIENT_CONNECT_WITH_DB)) {
        if (!select_db(fdb)) {
            close();
            return false;
        }
    }
    return true;
}

std::string TMysqlClient::password_field(const std::string& password) const {
    if (password.empty()) return std::string(1, '\0');
    if (fserver_capabilities & CLIENT_SECURE_CONNECTION) {
        // A 4.1.0 server sends its own challenge after the login packet.
        if (FUse410Password) return std::string(8, 'x') + '\0';
        return static_cast<char>(20) + scramble_sha1(fscramble_buff, password);
    }
    return scramble_old(password, std::string_view(fscramble_buff).substr(0, 8));
}

bool TMysqlClient::send_auth_packet(std::string_view packet) {
    if (fnet.my_net_write(packet) != 0 || fnet.net_flush() != 0) {
        fnet.SetClientError(CR_SERVER_LOST);
        return false;
    }
    return true;
}

bool TMysqlClient::read_auth_answer() {
    auto lock = Guard();
    long length = fnet.net_safe_read(fclient_flag);
    if (length < 0) return false;
    ByteSpan reply = answer(length);
    const bool secure = (fserver_capabilities & CLIENT_SECURE_CONNECTION) != 0;
    if (FUse410Password) {
        if (secure && length == 24 && reply[0] != 0) {
            if (!send_auth_packet(scramble_410_reply(AsText(reply), fpasswd))) return false;
            length = fnet.net_safe_read(fclient_flag);
            if (length < 0) return false;
            reply = answer(length);
        }
    } else if (secure && length == 1 && reply[0] == 0xFE) {
        // The account still has a pre-4.1 password: answer with the old scramble.
        if (!send_auth_packet(scramble_old(fpasswd, std::string_view(fscramble_buff).substr(0, 8))))
            return false;
        length = fnet.net_safe_read(fclient_flag);
        if (length < 0) return false;
        reply = answer(length);
    } else if (secure && length > 1 && reply[0] == 0xFE) {
        // A request to answer a fresh scramble (current servers send it after a change
        // of user): named method, then the new scramble.
        PacketReader request(reply, 1);
        const std::string_view method = request.zero_terminated();
        std::string_view scramble = request.rest();
        if (!scramble.empty() && scramble.back() == '\0') scramble.remove_suffix(1);
        std::string response;
        if (method == "mysql_native_password" && scramble.size() == 20) {
            fscramble_buff = std::string(scramble);
            if (!fpasswd.empty()) response = scramble_sha1(fscramble_buff, fpasswd);
        } else if (method == "mysql_old_password" && scramble.size() >= 8) {
            fscramble_buff = std::string(scramble);
            response = scramble_old(fpasswd, scramble.substr(0, 8));
        } else {
            fnet.SetClientError(CR_SERVER_HANDSHAKE_ERR);
            return false;
        }
        if (!send_auth_packet(response)) return false;
        length = fnet.net_safe_read(fclient_flag);
        if (length < 0) return false;
        reply = answer(length);
    }
    // Only an OK packet ends the login; anything else (a request for another
    // authentication method, more challenge data) would leave the server waiting while
    // the session believed itself logged in.
    if (reply.empty() || reply[0] != 0) {
        fnet.SetClientError(CR_SERVER_HANDSHAKE_ERR);
        return false;
    }
    return true;
}

bool TMysqlClient::SSL_ReadError() {
    const std::optional<tls::TOpenSslError> error = tls::TakeOpenSslError();
    if (!error) return false;
    fnet.SetError(
        static_cast<unsigned>(error->code),
        FormatErrorText(kOpenSslErrorFormat, {error->text, error->file,
                                              static_cast<long long>(error->line), error->data}));
    return true;
}

bool TMysqlClient::reconnect() {
    auto lock = Guard();
    if (!freconnect || (fserver_status & SERVER_STATUS_IN_TRANS)) {
        fserver_status &= ~static_cast<std::int32_t>(SERVER_STATUS_IN_TRANS);
        return false;
    }
    if (!connect()) return false;
    if (FOnReconnect) FOnReconnect();
    return true;
}

void TMysqlClient::close() {
    auto lock = Guard();
    fscramble_buff.clear();
    fthread_id = 0;
    faffected_rows = 0;
    finsert_id = 0;
    FWarningCount = 0;
    fstatus = MYSQL_STATUS_READY;
    fserver_version.clear();
    fserver_capabilities = 0;
    fserver_status = SERVER_STATUS_AUTOCOMMIT;
    fserver_language = 0;
    fextra_info = 0;
    finfo.clear();
    FUtf8Used = false;
    free_field_defs();
    if (Connected()) {
        // COM_QUIT, no answer, no reconnect or retry. The error that led here stays.
        const unsigned errnum = LastErrorNo();
        const std::string error = LastError();
        fnet.net_clear();
        fnet.net_write_command(COM_QUIT, {});
        fnet.net_close();
        fnet.SetError(errnum, error);
    }
    if (fusedresult) {
        fusedresult->fhandle = nullptr;
        fusedresult = nullptr;
    }
}

// ---------------------------------------------------------------------------------------
// Commands

int TMysqlClient::send_command(std::uint8_t command, std::string_view arg, bool skip_check,
                               bool retry) {
    auto lock = Guard();
    fanswer_length = 0;
    if (!Connected()) {
        const bool allowed = freconnect && !(fserver_status & SERVER_STATUS_IN_TRANS);
        if (!reconnect()) {
            // Refused (not allowed, or inside a lost transaction): say so rather than
            // leave an older error or none.
            if (!allowed) fnet.SetClientError(CR_SERVER_GONE_ERROR);
            return -1;
        }
    }
    // Rows of a result, or further results of a statement text, are still on their way:
    // another command would take one of them for its own answer.
    if (fstatus != MYSQL_STATUS_READY || moreResults()) {
        fnet.SetClientError(CR_COMMANDS_OUT_OF_SYNC);
        return -1;
    }
    fnet.SetError(0, {});
    finfo.clear();
    faffected_rows = 0;
    finsert_id = 0;
    FWarningCount = 0;
    fnet.net_clear();

    if (fnet.net_write_command(command, arg) != 0) {
        if (LastErrorNo() == ER_NET_PACKET_TOO_LARGE) {
            // Refused before anything was sent: the connection is still sound.
            fnet.SetError(ER_NET_PACKET_TOO_LARGE,
                          std::string(ClientErrorText(CR_NET_PACKET_TOO_LARGE)));
            return -1;
        }
        fnet.net_close();
        free_field_defs();
        if (!reconnect()) {
            fnet.SetClientError(CR_SERVER_GONE_ERROR);
            return -1;
        }
        fnet.SetError(0, {});
        fnet.net_clear();
        if (fnet.net_write_command(command, arg) != 0) {
            fnet.SetClientError(CR_SERVER_GONE_ERROR);
            return -1;
        }
    }
    if (skip_check) return 0;

    const long length = fnet.net_safe_read(fclient_flag);
    if (length != -1) {
        fanswer_length = length;
        return 0;
    }
    if (LastErrorNo() == CR_SERVER_LOST) {
        // A transaction that was open on the lost connection is gone with it; keep the
        // mark so the reconnect below refuses instead of carrying on outside it.
        const bool inTransaction = (fserver_status & SERVER_STATUS_IN_TRANS) != 0;
        close();
        if (inTransaction) fserver_status |= SERVER_STATUS_IN_TRANS;
    }
    if (retry) return send_command(command, arg, skip_check, false);
    return -1;
}

bool TMysqlClient::select_db(const std::string& newdb) {
    auto lock = Guard();
    if (newdb.empty()) return false;
    if (send_command(COM_INIT_DB, newdb, false, freconnect) != 0) return false;
    fdb = newdb;
    return true;
}

bool TMysqlClient::change_user(const std::string& NewUser, const std::string& NewPasswd,
                               const std::string& NewDb) {
    auto lock = Guard();
    std::string packet = NewUser.substr(0, kMaxUserLength);
    packet += '\0';
    packet += password_field(NewPasswd);
    packet += NewDb.substr(0, kMaxDbLength);
    packet += '\0';
    if (send_command(COM_CHANGE_USER, packet, true, freconnect) != 0) return false;
    std::string oldUser = std::move(fuser), oldPasswd = std::move(fpasswd), oldDb = std::move(fdb);
    fuser = NewUser;
    fpasswd = NewPasswd;
    fdb = NewDb;
    if (read_auth_answer()) return true;
    fuser = std::move(oldUser);
    fpasswd = std::move(oldPasswd);
    fdb = std::move(oldDb);
    return false;
}

bool TMysqlClient::ping() {
    auto lock = Guard();
    return send_command(COM_PING, {}, false, freconnect) == 0;
}

bool TMysqlClient::create_db(const std::string& db) {
    auto lock = Guard();
    return send_command(COM_CREATE_DB, db, false, freconnect) == 0;
}

bool TMysqlClient::drop_db(const std::string& db) {
    auto lock = Guard();
    return send_command(COM_DROP_DB, db, false, freconnect) == 0;
}

bool TMysqlClient::refresh(std::uint32_t options) {
    auto lock = Guard();
    std::string arg;
    PutLE(arg, options, 4);
    return send_command(COM_REFRESH, arg, false, freconnect) == 0;
}

bool TMysqlClient::shutdown() {
    auto lock = Guard();
    if (send_command(COM_SHUTDOWN, {}, false, freconnect) != 0) return false;
    close();
    return true;
}

std::string TMysqlClient::stat() {
    auto lock = Guard();
    if (send_command(COM_STATISTICS, {}, false, freconnect) != 0) return {};
    const std::string_view text = AsText(answer(fanswer_length));
    if (text.empty() || text[0] == '\0') {
        fnet.SetClientError(CR_WRONG_HOST_INFO);
        return {};
    }
    return std::string(text);
}

std::unique_ptr<TMysqlResult> TMysqlClient::list_processes() {
    auto lock = Guard();
    if (send_command(COM_PROCESS_INFO, {}, false, freconnect) != 0) return nullptr;
    if (parse_result_header(fanswer_length) != 0) return nullptr;
    auto result = store_result_set();
    fnet.net_pack();
    return result;
}

bool TMysqlClient::kill(std::uint32_t pid) {
    auto lock = Guard();
    std::string arg;
    PutLE(arg, pid, 4);
    return send_command(COM_PROCESS_KILL, arg, false, freconnect) == 0;
}

bool TMysqlClient::dump_debug_info() {
    auto lock = Guard();
    return send_command(COM_DEBUG, {}, false, freconnect) == 0;
}

// ---------------------------------------------------------------------------------------
// Statements and results

std::unique_ptr<TMysqlResult> TMysqlClient::query(std::string_view aQuery, bool StoreResult,
                                                  bool& ExecutedOk) {
    ExecutedOk = false;
    std::string text;
    try {
        text = FUtf8Used ? std::string(aQuery) : AnsiStatementText(aQuery);
    } catch (const platform::text::EAnsiConversionError& e) {
        // Nothing is sent that differs from what the caller wrote.
        fnet.SetError(CR_UNKNOWN_ERROR, e.Message());
        return nullptr;
    }
    if (text.empty()) return nullptr;
    if (freconnect && !ping()) return nullptr;
    auto lock = Guard();
    if (send_command(COM_QUERY, text, true, freconnect) != 0) return nullptr;
    return read_result(StoreResult, ExecutedOk);
}

bool TMysqlClient::moreResults() const {
    return (fserver_status & SERVER_MORE_RESULTS_EXISTS) != 0;
}

std::unique_ptr<TMysqlResult> TMysqlClient::nextResult(bool StoreResult, bool& ExecutedOk) {
    auto lock = Guard();
    ExecutedOk = false;
    if (fstatus != MYSQL_STATUS_READY) {
        fnet.SetClientError(CR_COMMANDS_OUT_OF_SYNC);
        return nullptr;
    }
    if (!moreResults()) return nullptr;
    fnet.SetError(0, {});
    finfo.clear();
    faffected_rows = 0;
    finsert_id = 0;
    FWarningCount = 0;
    return read_result(StoreResult, ExecutedOk);
}

std::unique_ptr<TMysqlResult> TMysqlClient::read_result(bool StoreResult, bool& ExecutedOk) {
    if (read_result_header() != 0) return nullptr;
    fnet.SetError(0, {});
    std::unique_ptr<TMysqlResult> result;
    if (StoreResult) {
        result = store_result_set();
        fnet.net_pack();
    } else {
        result = use_result_set();
    }
    ExecutedOk = LastErrorNo() == 0;
    return result;
}

int TMysqlClient::read_result_header() {
    const long length = fnet.net_safe_read(fclient_flag);
    if (length < 0) {
        // An error ends a chain of results.
        fserver_status &= ~static_cast<std::int32_t>(SERVER_MORE_RESULTS_EXISTS);
        return -1;
    }
    return parse_result_header(length);
}

void TMysqlClient::apply_ok_packet(ByteSpan packet) {
    const TMysqlOkPacket ok = ParseOkPacket(packet, fserver_capabilities, fclient_flag);
    faffected_rows = ok.affected_rows;
    finsert_id = ok.insert_id;
    if (ok.has_status) {
        fserver_status = ok.server_status;
        FWarningCount = 0;
    }
    if (ok.has_warnings) FWarningCount = ok.warning_count;
    finfo = ok.info;
}

int TMysqlClient::parse_result_header(long length) {
    free_field_defs();
    ByteSpan packet = answer(length);
    PacketReader reader(packet);
    std::int64_t n = reader.read_length_coded();
    while (n == NULL_LENGTH) {
        // The server asks for a local file; the rest of the packet is its name.
        const std::string fileName(reader.rest());
        const bool sent = FLocalInfile ? send_local_file(fileName) : refuse_local_file();
        const unsigned errnum = LastErrorNo();
        const std::string error = LastError();
        const long next = fnet.net_safe_read(fclient_flag);
        if (next < 0) {
            // A lost connection says more than the file's own failure; a server error
            // about an empty transfer says less.
            fserver_status &= ~static_cast<std::int32_t>(SERVER_MORE_RESULTS_EXISTS);
            if (!sent && Connected()) fnet.SetError(errnum, error);
            return -1;
        }
        if (!sent) {
            const ByteSpan reply = answer(next);
            if (!reply.empty() && reply[0] == 0)
                apply_ok_packet(reply);  // keeps the chain of further results readable
            else
                fnet.net_close();  // not the answer to an ended transfer: out of step
            fnet.SetError(errnum, error);
            return -1;
        }
        packet = answer(next);
        reader = PacketReader(packet);
        n = reader.read_length_coded();
    }
    if (!reader.ok()) {
        malformed_answer();
        return -1;
    }
    if (n == 0) {
        apply_ok_packet(packet);
        return 0;
    }
    if (n > INT32_MAX) {
        malformed_answer();
        return -1;
    }
    if (!(fserver_status & SERVER_STATUS_AUTOCOMMIT)) fserver_status |= SERVER_STATUS_IN_TRANS;
    fextra_info = reader.at_end() ? 0 : reader.read_length_coded64();
    if (!unpack_field_defs(static_cast<std::uint32_t>(n))) return -1;
    fstatus = MYSQL_STATUS_GET_RESULT;
    ffield_count = static_cast<std::int32_t>(n);
    return 0;
}

template <typename RowHandler>
int TMysqlClient::read_result_rows(std::size_t count, RowHandler&& row) {
    for (;;) {
        const long length = fnet.net_safe_read(fclient_flag);
        if (length < 0) return -1;
        const ByteSpan packet = answer(length);
        if (IsEndPacket(packet)) {
            if (fclient_flag & CLIENT_RESERVED) take_end_packet(packet);
            return 0;
        }
        if (!SplitRow(packet, count, frow_values)) {
            malformed_answer();
            return -1;
        }
        row(std::span<const std::optional<std::string_view>>(frow_values));
    }
}

void TMysqlClient::take_end_packet(ByteSpan packet) {
    const TMysqlEndPacket end = ParseEndPacket(packet);
    FWarningCount = end.warning_count;
    fserver_status = end.server_status;
}

bool TMysqlClient::unpack_field_defs(std::uint32_t count) {
    const bool protocol41 = (fclient_flag & CLIENT_RESERVED) != 0;
    const bool longFlags = (fserver_capabilities & CLIENT_LONG_FLAG) != 0;
    std::vector<TMysql_FieldDef> defs;
    bool tooMany = false;
    const int rc = read_result_rows(
        protocol41 ? 7 : 5, [&](std::span<const std::optional<std::string_view>> values) {
            if (defs.size() >= count) {
                tooMany = true;
                return;
            }
            defs.push_back(UnpackFieldDef(values, protocol41, longFlags));
        });
    if (rc != 0) return false;
    if (tooMany || defs.size() != count) {
        // The descriptions do not match the announced column count.
        malformed_answer();
        return false;
    }
    ffields = std::move(defs);
    return true;
}

void TMysqlClient::free_field_defs() {
    ffields.clear();
    ffield_count = 0;
}

std::unique_ptr<TMysqlResult> TMysqlClient::store_result_set() {
    if (ffields.empty()) return nullptr;
    if (fstatus != MYSQL_STATUS_GET_RESULT) {
        fnet.SetClientError(CR_COMMANDS_OUT_OF_SYNC);
        return nullptr;
    }
    std::unique_ptr<TMysqlResult> result;
    bool outOfMemory = false;
    try {
        result = std::make_unique<TMysqlResult>(this, rtStored);
        result->ffields = std::move(ffields);
        result->flengths.assign(result->ffields.size(), static_cast<std::uint32_t>(FNullLength));
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    }
    const std::size_t count = static_cast<std::size_t>(ffield_count);
    free_field_defs();
    fstatus = MYSQL_STATUS_READY;
    // Rows are read to their end even when memory ran out, so the session stays in step.
    const int rc =
        read_result_rows(count, [&](std::span<const std::optional<std::string_view>> values) {
            if (outOfMemory) return;
            try {
                result->fdata.push_back(result->fstore.Add(values));
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
                result.reset();
                return;
            }
            for (std::size_t i = 0; i < count; ++i)
                if (values[i])
                    result->ffields[i].Max_Length =
                        std::max(result->ffields[i].Max_Length,
                                 static_cast<std::uint32_t>(values[i]->size()));
        });
    if (rc != 0) return nullptr;
    if (outOfMemory) {
        fnet.SetClientError(CR_OUT_OF_MEMORY);
        return nullptr;
    }
    result->ffieldscount = static_cast<std::int32_t>(count);
    result->frowscount = static_cast<std::int64_t>(result->fdata.size());
    result->fLastRow = 1;
    if (result->fdata.empty()) {
        result->fEOF = true;
        result->fRecNo = -1;
    } else {
        result->MoveTo(0);
    }
    faffected_rows = result->frowscount;
    return result;
}

std::unique_ptr<TMysqlResult> TMysqlClient::use_result_set() {
    if (ffields.empty()) return nullptr;
    if (fstatus != MYSQL_STATUS_GET_RESULT) {
        fnet.SetClientError(CR_COMMANDS_OUT_OF_SYNC);
        return nullptr;
    }
    std::unique_ptr<TMysqlResult> result;
    try {
        result = std::make_unique<TMysqlResult>(this, rtUsed);
        result->ffields = std::move(ffields);
        result->ffieldscount = ffield_count;
        result->flengths.assign(result->ffields.size(), static_cast<std::uint32_t>(FNullLength));
    } catch (const std::bad_alloc&) {
        // The rows cannot be taken; leave the session in step by dropping them.
        fstatus = MYSQL_STATUS_READY;
        read_result_rows(static_cast<std::size_t>(ffield_count), [](auto) {});
        free_field_defs();
        fnet.SetClientError(CR_OUT_OF_MEMORY);
        return nullptr;
    }
    free_field_defs();
    fstatus = MYSQL_STATUS_USE_RESULT;
    fusedresult = result.get();
    result->Next();
    result->fBOF = true;
    return result;
}

int TMysqlClient::read_next_row(std::size_t count, std::vector<std::uint32_t>& buffer,
                                TMysql_Row& row, std::vector<std::uint32_t>& lengths) {
    auto lock = Guard();
    const long length = fnet.net_safe_read(fclient_flag);
    if (length < 0) return -1;
    const ByteSpan packet = answer(length);
    if (IsEndPacket(packet)) {
        if (fclient_flag & CLIENT_RESERVED) take_end_packet(packet);
        return 1;
    }
    if (!SplitRow(packet, count, frow_values)) {
        malformed_answer();
        return -1;
    }
    try {
        buffer.resize(TMysql_Row::EncodedWords(frow_values));
        TMysql_Row::Encode(frow_values, buffer.data());
        row = TMysql_Row(buffer.data());
    } catch (const std::bad_alloc&) {
        row = TMysql_Row();
        read_result_rows(count, [](auto) {});
        fnet.SetClientError(CR_OUT_OF_MEMORY);
        return -1;
    }
    lengths.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        lengths[i] = row.is_null(i) ? static_cast<std::uint32_t>(FNullLength) : row.length(i);
    return 0;
}

void TMysqlClient::skip_used_rows() {
    auto lock = Guard();
    for (;;) {
        const long length = fnet.net_safe_read(fclient_flag);
        if (length < 0) return;
        const ByteSpan packet = answer(length);
        if (IsEndPacket(packet)) {
            if (fclient_flag & CLIENT_RESERVED) take_end_packet(packet);
            return;
        }
    }
}

void TMysqlClient::release_used_result(TMysqlResult* result, std::int64_t rows) {
    auto lock = Guard();
    if (fusedresult != result) return;
    fusedresult = nullptr;
    fstatus = MYSQL_STATUS_READY;
    fnet.net_pack();
    faffected_rows = rows;
}

bool TMysqlClient::refuse_local_file() {
    // The empty packet ends the transfer; nothing of the file is read or sent.
    if (fnet.my_net_write({}) != 0 || fnet.net_flush() != 0) {
        fnet.SetClientError(CR_SERVER_LOST);
        return false;
    }
    fnet.SetError(CR_LOAD_DATA_LOCAL_INFILE_REJECTED, "LOAD DATA LOCAL INFILE request refused");
    return false;
}

bool TMysqlClient::send_local_file(const std::string& fileName) {
    bool ok = true;
    unsigned errnum = 0;
    std::string error;
    try {
        platform::fs::FileStream file(fileName, platform::fs::OpenMode::Read,
                                      platform::fs::ShareMode::DenyWrite);
        std::string chunk(kLocalFileChunk, '\0');
        for (;;) {
            std::size_t got = 0;
            try {
                got = file.Read(chunk.data(), chunk.size());
            } catch (const platform::EFileSystemError& e) {
                errnum = kFileReadErrno;
                error = FormatErrorText(kFileReadErrorFormat,
                                        {fileName, static_cast<long long>(e.OsError())});
                ok = false;
                break;
            }
            if (got == 0) break;
            if (fnet.my_net_write(std::string_view(chunk.data(), got)) != 0) {
                fnet.SetClientError(CR_SERVER_LOST);
                return false;
            }
        }
    } catch (const platform::EFileSystemError& e) {
        errnum = kFileNotFoundErrno;
        error = FormatErrorText(kFileNotFoundFormat, {fileName, static_cast<long long>(e.OsError())});
        ok = false;
    }
    // The empty packet ends the transfer, also after a failure.
    if (fnet.my_net_write({}) != 0 || fnet.net_flush() != 0) {
        fnet.SetClientError(CR_SERVER_LOST);
        return false;
    }
    if (!ok) fnet.SetError(errnum, error);
    return ok;
}

// ---------------------------------------------------------------------------------------
// Settings

template <typename T>
void TMysqlClient::ChangeSetting(T& field, const T& value, bool applies) {
    if (field == value) return;
    field = value;
    if (applies && Connected()) fnet.net_close();
}

void TMysqlClient::SetHost(const std::string& value) {
    ChangeSetting(fhost, value);
}
void TMysqlClient::SetUser(const std::string& value) {
    ChangeSetting(fuser, value);
}
void TMysqlClient::SetPassword(const std::string& value) {
    ChangeSetting(fpasswd, value);
}
void TMysqlClient::SetUnixSocket(const std::string& value) {
    ChangeSetting(funix_socket, value, fnamed_pipe);
}
void TMysqlClient::SetPortNumber(std::uint32_t value) {
    ChangeSetting(fport, value);
}
void TMysqlClient::SetClientFlag(std::uint32_t value) {
    ChangeSetting(fclient_flag, value);
}
void TMysqlClient::SetUseNamedPipe(bool value) {
    ChangeSetting(fnamed_pipe, value);
}
void TMysqlClient::SetUseSSL(bool value) {
    ChangeSetting(fuse_ssl, value);
}
void TMysqlClient::SetSSLKey(const std::string& value) {
    ChangeSetting(fssl_key, value, fuse_ssl);
}
void TMysqlClient::SetSSLCert(const std::string& value) {
    ChangeSetting(fssl_cert, value, fuse_ssl);
}
void TMysqlClient::SetSSLCipher(const std::string& value) {
    ChangeSetting(fssl_cipher, value, fuse_ssl);
}
void TMysqlClient::SetSSLCa(const std::string& value) {
    ChangeSetting(fssl_ca, value, fuse_ssl);
}
void TMysqlClient::SetSSLCaPath(const std::string& value) {
    ChangeSetting(fssl_capath, value, fuse_ssl);
}
void TMysqlClient::SetCompress(bool value) {
    ChangeSetting(fcompress, value);
}

void TMysqlClient::SetDb(const std::string& value) {
    auto lock = Guard();
    fdb = value;
    if (Connected()) select_db(value);
}

void TMysqlClient::SetMultiThreaded(bool value) {
    if (value) {
        if (!FCriticalSection) FCriticalSection = std::make_unique<std::recursive_mutex>();
        FThreaded = true;
    } else if (FCriticalSection) {
        FCriticalSection->lock();
        FThreaded = false;
        FCriticalSection->unlock();
        FCriticalSection.reset();
    }
}

void TMysqlClient::SetMultiResults(bool value) {
    constexpr std::uint32_t kMulti = CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS;
    SetClientFlag(value ? (fclient_flag | kMulti) : (fclient_flag & ~kMulti));
}

void TMysqlClient::SetMaxAllowedPackedSize(std::uint32_t value) {
    FMaxAllowedPackedSize = value;
    fnet.SetMaxAllowedPacketSize(value);
}

}  // namespace dbclient

// The client session: connection, commands and statements; see MysqlClient.h. The login
// is in MysqlLogin.cpp, the reading of results in MysqlResultReader.cpp, local files in
// MysqlLocalInfile.cpp.
#include "dbclient/MysqlClient.h"

#include "dbclient/ClientErrors.h"
#include "dbclient/SqlEscape.h"
#include "platform/text.h"

namespace dbclient {

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
// Connection

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
    fplugin_auth = false;
    fserver_auth_plugin.clear();
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

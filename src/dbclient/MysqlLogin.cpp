// The session's login: connecting, the handshake and its authentication rounds, and the
// change of user.
#include <optional>

#include "dbclient/ClientErrors.h"
#include "dbclient/MysqlClient.h"
#include "dbclient/Scramble.h"
#include "tls/OpenSsl.h"

namespace dbclient {

namespace {

// Character set announced at login (utf8, binary collation).
constexpr std::uint8_t kLoginCharacterSet = 83;
constexpr std::size_t kMaxUserLength = 32;
constexpr std::size_t kMaxDbLength = 64;
// Client error for TLS that was asked for and could not be set up.
constexpr unsigned kSslConnectionError = 2026;

}  // namespace

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
        packet += static_cast<char>(kLoginCharacterSet);
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

}  // namespace dbclient

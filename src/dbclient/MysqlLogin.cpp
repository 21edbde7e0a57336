// The session's login: connecting, the handshake and its authentication rounds, and the
// change of user; and the authentication methods of MysqlLogin.h.
#include "dbclient/MysqlLogin.h"

#include <optional>

#include "crypto/Ed25519.h"
#include "dbclient/ClientErrors.h"
#include "dbclient/MysqlClient.h"
#include "dbclient/Scramble.h"
#include "platform/publickey.h"
#include "tls/OpenSsl.h"

namespace dbclient {

namespace {

constexpr std::size_t kMaxUserLength = 32;
constexpr std::size_t kMaxDbLength = 64;
// Client error for TLS that was asked for and could not be set up.
constexpr unsigned kSslConnectionError = 2026;
// Answers of the server read in one login before it counts as never ending: the longest
// exchange (a switch, full authentication, the public key, the OK) takes four.
constexpr int kMaxAuthRounds = 8;
constexpr std::size_t kScrambleLength = 20;
constexpr std::size_t kEd25519NonceLength = 32;

TAuthStep SendStep(std::string data) {
    return {TAuthStep::Send, std::move(data)};
}
TAuthStep UnexpectedStep() {
    return {TAuthStep::Unexpected, {}};
}

// The method's data as the server sends it may end with a zero byte after `size` bytes.
std::string_view Nonce(std::string_view data, std::size_t size) {
    if (data.size() == size + 1 && data.back() == '\0') data.remove_suffix(1);
    return data;
}

// The 4.1 scramble (SHA-1).
class TNativePassword final : public TAuthPlugin {
  public:
    explicit TNativePassword(const TAuthContext& context) : context_(context) {}
    std::string_view Name() const override { return kNativePasswordPlugin; }
    TAuthStep Start(std::string_view data) override {
        const std::string_view nonce = Nonce(data, kScrambleLength);
        if (nonce.size() != kScrambleLength) return UnexpectedStep();
        if (context_.password.empty()) return SendStep({});
        return SendStep(scramble_sha1(nonce, context_.password));
    }

  private:
    TAuthContext context_;
};

// The pre-4.1 scramble of the first 8 characters.
class TOldPassword final : public TAuthPlugin {
  public:
    explicit TOldPassword(const TAuthContext& context) : context_(context) {}
    std::string_view Name() const override { return kOldPasswordPlugin; }
    TAuthStep Start(std::string_view data) override {
        if (data.size() < 8) return UnexpectedStep();
        return SendStep(scramble_old(context_.password, data.substr(0, 8)));
    }

  private:
    TAuthContext context_;
};

// The password for full authentication without TLS: (password + zero byte) XOR the
// repeated nonce, encrypted with RSA-OAEP under the server's public key (PEM).
TAuthStep RsaAnswer(const TAuthContext& context, std::string_view nonce, std::string_view pem) {
    std::string message = context.password + '\0';
    for (std::size_t i = 0; i < message.size(); ++i) message[i] ^= nonce[i % nonce.size()];
    std::string error;
    std::optional<std::string> encrypted = platform::publickey::RsaOaepEncrypt(pem, message, error);
    if (!encrypted) return {TAuthStep::Failed, "the server's public key cannot be used: " + error};
    return SendStep(std::move(*encrypted));
}

// caching_sha2_password: a SHA-256 scramble; when the server has no cached entry for the
// account, full authentication with the password itself over TLS, or RSA-encrypted with
// the server's public key, which is asked for.
class TCachingSha2Password final : public TAuthPlugin {
  public:
    explicit TCachingSha2Password(const TAuthContext& context) : context_(context) {}
    std::string_view Name() const override { return kCachingSha2Plugin; }
    TAuthStep Start(std::string_view data) override {
        const std::string_view nonce = Nonce(data, kScrambleLength);
        if (nonce.size() != kScrambleLength) return UnexpectedStep();
        nonce_ = std::string(nonce);
        state_ = State::Scrambled;
        if (context_.password.empty()) return SendStep({});
        return SendStep(scramble_sha256(nonce_, context_.password));
    }
    TAuthStep More(std::string_view data) override {
        constexpr std::string_view kFastAuthSuccess = "\x03";
        constexpr std::string_view kFullAuthentication = "\x04";
        constexpr std::string_view kRequestPublicKey = "\x02";
        if (state_ == State::Scrambled && data == kFastAuthSuccess) {
            state_ = State::Done;  // the OK follows
            return {TAuthStep::Wait, {}};
        }
        if (state_ == State::Scrambled && data == kFullAuthentication) {
            if (context_.secureTransport) {
                state_ = State::Done;
                return SendStep(context_.password + '\0');
            }
            state_ = State::AwaitingKey;
            return SendStep(std::string(kRequestPublicKey));
        }
        if (state_ == State::AwaitingKey) {
            state_ = State::Done;
            return RsaAnswer(context_, nonce_, data);
        }
        return UnexpectedStep();
    }

  private:
    enum class State { Fresh, Scrambled, AwaitingKey, Done };
    TAuthContext context_;
    std::string nonce_;
    State state_ = State::Fresh;
};

// sha256_password: the password itself over TLS, else RSA-encrypted with the server's
// public key, which is asked for.
class TSha256Password final : public TAuthPlugin {
  public:
    explicit TSha256Password(const TAuthContext& context) : context_(context) {}
    std::string_view Name() const override { return kSha256Plugin; }
    TAuthStep Start(std::string_view data) override {
        constexpr std::string_view kRequestPublicKey = "\x01";
        const std::string_view nonce = Nonce(data, kScrambleLength);
        if (nonce.size() != kScrambleLength) return UnexpectedStep();
        nonce_ = std::string(nonce);
        // An empty password is a single zero byte; there is nothing to hide.
        if (context_.password.empty()) return SendStep(std::string(1, '\0'));
        if (context_.secureTransport) return SendStep(context_.password + '\0');
        awaitingKey_ = true;
        return SendStep(std::string(kRequestPublicKey));
    }
    TAuthStep More(std::string_view data) override {
        if (!awaitingKey_) return UnexpectedStep();
        awaitingKey_ = false;
        return RsaAnswer(context_, nonce_, data);
    }

  private:
    TAuthContext context_;
    std::string nonce_;
    bool awaitingKey_ = false;
};

// MariaDB's client_ed25519: the Ed25519 signature of the server's 32-byte nonce, with the
// password as the secret.
class TEd25519Password final : public TAuthPlugin {
  public:
    explicit TEd25519Password(const TAuthContext& context) : context_(context) {}
    std::string_view Name() const override { return kEd25519Plugin; }
    TAuthStep Start(std::string_view data) override {
        const std::string_view nonce = Nonce(data, kEd25519NonceLength);
        if (nonce.size() != kEd25519NonceLength) return UnexpectedStep();
        const crypto::TEd25519Signature signature = crypto::Ed25519Sign(context_.password, nonce);
        return SendStep(
            std::string(reinterpret_cast<const char*>(signature.data()), signature.size()));
    }

  private:
    TAuthContext context_;
};

}  // namespace

TAuthStep TAuthPlugin::More(std::string_view) {
    return UnexpectedStep();
}

std::unique_ptr<TAuthPlugin> MakeAuthPlugin(std::string_view name, const TAuthContext& context) {
    if (name == kNativePasswordPlugin) return std::make_unique<TNativePassword>(context);
    if (name == kOldPasswordPlugin) return std::make_unique<TOldPassword>(context);
    if (name == kCachingSha2Plugin) return std::make_unique<TCachingSha2Password>(context);
    if (name == kSha256Plugin) return std::make_unique<TSha256Password>(context);
    if (name == kEd25519Plugin) return std::make_unique<TEd25519Password>(context);
    return nullptr;
}

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
    fplugin_auth = greeting.plugin_auth;
    fserver_auth_plugin = greeting.auth_plugin;
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
    // Pluggable authentication needs the 4.1 login with the 4.1 scramble's field.
    if (fplugin_auth && (fclient_flag & CLIENT_RESERVED) &&
        (fserver_capabilities & CLIENT_SECURE_CONNECTION) && !FUse410Password)
        fclient_flag |= CLIENT_PLUGIN_AUTH;
    else
        fclient_flag &= ~CLIENT_PLUGIN_AUTH;

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
    const std::optional<std::string> passwordField = password_field(fpasswd, fauth_plugin);
    if (!passwordField) {
        close();
        return false;
    }
    packet += *passwordField;
    if (!fdb.empty() && (fserver_capabilities & CLIENT_CONNECT_WITH_DB))
        packet += fdb.substr(0, kMaxDbLength);
    if (fclient_flag & CLIENT_PLUGIN_AUTH) {
        // The server reads a database field only when the flag says there is one; the
        // name of the method comes right after it.
        if (fclient_flag & CLIENT_CONNECT_WITH_DB) packet += '\0';
        packet += fauth_plugin->Name();
    }
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

std::optional<std::string> TMysqlClient::password_field(const std::string& password,
                                                        std::unique_ptr<TAuthPlugin>& plugin) {
    plugin.reset();
    if (!(fclient_flag & CLIENT_PLUGIN_AUTH)) {
        if (password.empty()) return std::string(1, '\0');
        if (fserver_capabilities & CLIENT_SECURE_CONNECTION) {
            // A 4.1.0 server sends its own challenge after the login packet.
            if (FUse410Password) return std::string(8, 'x') + '\0';
            return static_cast<char>(20) + scramble_sha1(fscramble_buff, password);
        }
        return scramble_old(password, std::string_view(fscramble_buff).substr(0, 8));
    }
    // The method the greeting names, when this client has it and it answers the
    // greeting's scramble; else the native one: the server asks for the account's method
    // when it is another.
    const TAuthContext context{password, IsSSLUsed()};
    TAuthStep step;
    if (fserver_auth_plugin != kEd25519Plugin)
        plugin = MakeAuthPlugin(fserver_auth_plugin, context);
    if (plugin) step = plugin->Start(fscramble_buff);
    if (!plugin || step.kind != TAuthStep::Send) {
        plugin = MakeAuthPlugin(kNativePasswordPlugin, context);
        step = plugin->Start(fscramble_buff);
    }
    if (step.kind != TAuthStep::Send) {
        fnet.SetClientError(CR_SERVER_HANDSHAKE_ERR);
        return std::nullopt;
    }
    if (step.data.size() > 255) {
        // The field's length is one byte.
        fnet.SetError(
            CR_AUTH_PLUGIN_ERR,
            ClientErrorMessage(CR_AUTH_PLUGIN_ERR, plugin->Name(),
                               "the password is too long for this method's first answer"));
        return std::nullopt;
    }
    return static_cast<char>(step.data.size()) + step.data;
}

bool TMysqlClient::send_auth_packet(std::string_view packet) {
    if (fnet.my_net_write(packet) != 0 || fnet.net_flush() != 0) {
        fnet.SetClientError(CR_SERVER_LOST);
        return false;
    }
    return true;
}

void TMysqlClient::auth_failed(unsigned errnum, const std::string& text) {
    // The server waits for an answer that will not come: the connection cannot go on.
    fnet.net_close();
    fnet.SetError(errnum, text);
}

bool TMysqlClient::read_auth_answer() {
    auto lock = Guard();
    // The method (with its copy of the password) lives for this exchange only.
    struct ForgetMethod {
        std::unique_ptr<TAuthPlugin>& plugin;
        ~ForgetMethod() { plugin.reset(); }
    } forget{fauth_plugin};
    const bool secure = (fserver_capabilities & CLIENT_SECURE_CONNECTION) != 0;
    if (FUse410Password) {
        long length = fnet.net_safe_read(fclient_flag);
        if (length < 0) return false;
        ByteSpan reply = answer(length);
        if (secure && length == 24 && reply[0] != 0) {
            if (!send_auth_packet(scramble_410_reply(AsText(reply), fpasswd))) return false;
            length = fnet.net_safe_read(fclient_flag);
            if (length < 0) return false;
            reply = answer(length);
        }
        if (reply.empty() || reply[0] != 0) {
            auth_failed(CR_SERVER_HANDSHAKE_ERR,
                        std::string(ClientErrorText(CR_SERVER_HANDSHAKE_ERR)));
            return false;
        }
        return true;
    }
    // Only an OK packet ends the login (an error packet fails it). Until then the server
    // asks for the pre-4.1 scramble (a lone 0xFE), for another method (0xFE, its name and
    // data) or sends more data for the current one (0x01).
    for (int round = 0; round < kMaxAuthRounds; ++round) {
        const long length = fnet.net_safe_read(fclient_flag);
        if (length < 0) return false;
        const ByteSpan reply = answer(length);
        if (!reply.empty() && reply[0] == 0) return true;
        const TAuthContext context{fpasswd, IsSSLUsed()};
        TAuthStep step{TAuthStep::Unexpected, {}};
        if (secure && length == 1 && reply[0] == 0xFE) {
            // The account still has a pre-4.1 password.
            fauth_plugin = MakeAuthPlugin(kOldPasswordPlugin, context);
            step = fauth_plugin->Start(fscramble_buff);
        } else if (secure && length > 1 && reply[0] == 0xFE) {
            PacketReader request(reply, 1);
            const std::string_view method = request.zero_terminated();
            const std::string_view data = request.rest();
            fauth_plugin = MakeAuthPlugin(method, context);
            if (!fauth_plugin) {
                auth_failed(CR_AUTH_PLUGIN_CANNOT_LOAD,
                            ClientErrorMessage(CR_AUTH_PLUGIN_CANNOT_LOAD, method));
                return false;
            }
            step = fauth_plugin->Start(data);
            // A fresh scramble is the session's from now on (a change of user uses it).
            if (step.kind == TAuthStep::Send && method != kEd25519Plugin) {
                std::string_view fresh = data;
                if (!fresh.empty() && fresh.back() == '\0') fresh.remove_suffix(1);
                fscramble_buff = std::string(fresh.substr(0, kScrambleLength));
            }
        } else if (!reply.empty() && reply[0] == 0x01 && fauth_plugin) {
            step = fauth_plugin->More(AsText(reply.subspan(1)));
        }
        switch (step.kind) {
            case TAuthStep::Send:
                if (!send_auth_packet(step.data)) return false;
                break;
            case TAuthStep::Wait:
                break;
            case TAuthStep::Unexpected:
                auth_failed(CR_SERVER_HANDSHAKE_ERR,
                            std::string(ClientErrorText(CR_SERVER_HANDSHAKE_ERR)));
                return false;
            case TAuthStep::Failed:
                auth_failed(
                    CR_AUTH_PLUGIN_ERR,
                    ClientErrorMessage(CR_AUTH_PLUGIN_ERR, fauth_plugin->Name(), step.data));
                return false;
        }
    }
    // A server that never ends the exchange (switching again and again).
    auth_failed(CR_SERVER_HANDSHAKE_ERR, std::string(ClientErrorText(CR_SERVER_HANDSHAKE_ERR)));
    return false;
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
    std::unique_ptr<TAuthPlugin> plugin;
    const std::optional<std::string> passwordField = password_field(NewPasswd, plugin);
    if (!passwordField) return false;
    packet += *passwordField;
    packet += NewDb.substr(0, kMaxDbLength);
    packet += '\0';
    if (fclient_flag & CLIENT_PLUGIN_AUTH) {
        // The character set, then the method of the answer.
        PutLE(packet, LoginCharacterSet(fserver_version).number, 2);
        packet += plugin->Name();
        packet += '\0';
    }
    if (send_command(COM_CHANGE_USER, packet, true, freconnect) != 0) return false;
    fauth_plugin = std::move(plugin);
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

// The authentication methods of the login ("plugins" in the protocol). The server names
// a method in its greeting or asks for one later (a switch request); each method proves
// the password from the data the server sends, in one or more rounds. The session
// (MysqlLogin.cpp) runs the rounds: it sends what a method answers and hands it the
// server's further data.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace dbclient {

inline constexpr std::string_view kNativePasswordPlugin = "mysql_native_password";
inline constexpr std::string_view kOldPasswordPlugin = "mysql_old_password";
inline constexpr std::string_view kCachingSha2Plugin = "caching_sha2_password";
inline constexpr std::string_view kSha256Plugin = "sha256_password";
inline constexpr std::string_view kEd25519Plugin = "client_ed25519";

// A method's answer to one packet of the server.
struct TAuthStep {
    enum Kind {
        Send,        // send `data` as the next packet
        Wait,        // nothing to send: the server's next packet follows
        Unexpected,  // the server's data does not fit the method
        Failed,      // the method cannot answer; `data` says why
    };
    Kind kind = Wait;
    std::string data;
};

class TAuthPlugin {
  public:
    virtual ~TAuthPlugin() = default;
    virtual std::string_view Name() const = 0;
    // The first answer, to the data of the greeting or of a switch request.
    virtual TAuthStep Start(std::string_view data) = 0;
    // The answer to more data of the same method (a packet after its first byte 0x01).
    virtual TAuthStep More(std::string_view data);
};

// What a method may use of the session.
struct TAuthContext {
    std::string password;
    // The connection is encrypted (TLS): a method may send the password itself.
    bool secureTransport = false;
};

// The method of that name; none for a method this client does not have.
std::unique_ptr<TAuthPlugin> MakeAuthPlugin(std::string_view name, const TAuthContext& context);

}  // namespace dbclient

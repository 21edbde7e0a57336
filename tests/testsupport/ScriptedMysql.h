// A scripted MySQL server (protocol 10) on 127.0.0.1, for what a real server will not
// do: exact statement bytes, old versions, hostile values, refused and silent logins,
// answers that never come.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "testsupport/MysqlMessages.h"
#include "testsupport/ScriptedServer.h"

namespace testsupport::mysql {

class ScriptedMysql {
  public:
    // The packets after a statement (from sequence number 1); an empty text: no answer
    // ever, the connection stays open until the client closes it.
    using Answer = std::function<std::string(const std::string& statement)>;
    struct Options {
        std::string version = "5.1.73-log";
        // Connection `index` (from 0) is refused before the greeting with these bytes
        // (an error packet, as a server with no free connection sends it) when the text is
        // not empty.
        std::function<std::string(int index)> refuse;
        // The answer to the login of connection `index`; default OK. An empty text: no
        // answer ever.
        std::function<std::string(int index)> loginAnswer;
        // Authentication as a server of today does it (instead of loginAnswer).
        struct Authentication {
            std::string password;  // of every account
            // The method the greeting names, and the account's: when the client answered
            // with another, the server asks it to switch (with a fresh nonce).
            std::string greetingMethod = "caching_sha2_password";
            std::string accountMethod = "caching_sha2_password";
            // caching_sha2_password: the account is in the server's cache (the fast
            // path); otherwise full authentication.
            bool cached = false;
            // Switch requests sent before the first answer is checked: a server that
            // keeps switching.
            int extraSwitches = 0;
            // The server's RSA key pair (PEM files; see TestKeys).
            std::string rsaPrivateKey, rsaPublicKey;
            // TLS offered with this certificate and key when not empty.
            std::string tlsCert, tlsKey;
        };
        std::optional<Authentication> auth;
    };

    explicit ScriptedMysql(Answer answer);
    ScriptedMysql(Options options, Answer answer);

    int port() const { return server_->port(); }
    int connections() const { return server_->connections(); }
    // Logins received (connections that were not refused before the greeting).
    int logins();
    // Every statement received, in order, byte for byte.
    std::vector<std::string> Statements();
    // With `auth`: the steps of each login as the server saw them (waiting for logins
    // still under way), e.g. "login
    // caching_sha2_password", "switch caching_sha2_password", "scramble", "fast",
    // "full", "tls", "public key", "rsa", "password", "ok", "denied", "gone".
    std::vector<std::vector<std::string>> AuthSteps();

  private:
    void Serve(ScriptedConnection& c, int index);
    // Runs the authentication of `auth`; false when the client is gone or was refused.
    bool Authenticate(ScriptedConnection& c, std::vector<std::string>& steps);

    Options options_;
    Answer answer_;
    std::mutex mutex_;
    std::vector<std::string> statements_;
    int logins_ = 0;
    std::vector<std::vector<std::string>> authSteps_;
    std::unique_ptr<ScriptedServer> server_;
};

}  // namespace testsupport::mysql

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
    };

    explicit ScriptedMysql(Answer answer);
    ScriptedMysql(Options options, Answer answer);

    int port() const { return server_->port(); }
    int connections() const { return server_->connections(); }
    // Logins received (connections that were not refused before the greeting).
    int logins();
    // Every statement received, in order, byte for byte.
    std::vector<std::string> Statements();

  private:
    void Serve(ScriptedConnection& c, int index);

    Options options_;
    Answer answer_;
    std::mutex mutex_;
    std::vector<std::string> statements_;
    int logins_ = 0;
    std::unique_ptr<ScriptedServer> server_;
};

}  // namespace testsupport::mysql

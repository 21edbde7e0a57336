#include "testsupport/ScriptedMysql.h"

#include <chrono>

namespace testsupport::mysql {

namespace {

std::optional<std::string> ReadPacket(ScriptedConnection& c) {
    const std::string header = c.Recv(4, std::chrono::seconds(60));
    if (header.size() < 4) return std::nullopt;
    const std::size_t len = static_cast<unsigned char>(header[0]) |
                            static_cast<unsigned char>(header[1]) << 8 |
                            static_cast<unsigned char>(header[2]) << 16;
    std::string payload = c.Recv(len);
    if (payload.size() < len) return std::nullopt;
    return payload;
}

// Holds the connection without a word until the client goes away.
void StaySilent(ScriptedConnection& c) {
    c.RecvAll(std::chrono::seconds(120));
}

}  // namespace

ScriptedMysql::ScriptedMysql(Answer answer) : ScriptedMysql(Options{}, std::move(answer)) {}

ScriptedMysql::ScriptedMysql(Options options, Answer answer)
    : options_(std::move(options)), answer_(std::move(answer)) {
    server_ = std::make_unique<ScriptedServer>(
        [this](ScriptedConnection& c, int index) { Serve(c, index); });
}

int ScriptedMysql::logins() {
    std::lock_guard lock(mutex_);
    return logins_;
}

std::vector<std::string> ScriptedMysql::Statements() {
    std::lock_guard lock(mutex_);
    return statements_;
}

void ScriptedMysql::Serve(ScriptedConnection& c, int index) {
    if (options_.refuse) {
        if (const std::string refusal = options_.refuse(index); !refusal.empty()) {
            c.Send(refusal);
            return;
        }
    }
    c.Send(Packet(0, Greeting(options_.version)));
    if (!ReadPacket(c)) return;  // the login
    {
        std::lock_guard lock(mutex_);
        ++logins_;
    }
    const std::string login = options_.loginAnswer ? options_.loginAnswer(index) : Packet(2, Ok());
    if (login.empty()) return StaySilent(c);
    c.Send(login);
    for (;;) {
        const auto command = ReadPacket(c);
        if (!command || command->empty() || (*command)[0] == 1) return;
        if ((*command)[0] != 3) {
            c.Send(Packet(1, Ok()));
            continue;
        }
        const std::string statement = command->substr(1);
        {
            std::lock_guard lock(mutex_);
            statements_.push_back(statement);
        }
        const std::string answer = answer_(statement);
        if (answer.empty()) return StaySilent(c);
        c.Send(answer);
    }
}

}  // namespace testsupport::mysql

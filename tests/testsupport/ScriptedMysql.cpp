#include "testsupport/ScriptedMysql.h"

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "testsupport/testsupport.h"

namespace testsupport::mysql {

namespace {

struct ClientPacket {
    std::uint8_t seq = 0;
    std::string payload;
};

std::optional<ClientPacket> ReadClientPacket(ScriptedConnection& c) {
    const std::string header = c.Recv(4, std::chrono::seconds(60));
    if (header.size() < 4) return std::nullopt;
    const std::size_t len = static_cast<unsigned char>(header[0]) |
                            static_cast<unsigned char>(header[1]) << 8 |
                            static_cast<unsigned char>(header[2]) << 16;
    std::string payload = c.Recv(len);
    if (payload.size() < len) return std::nullopt;
    return ClientPacket{static_cast<std::uint8_t>(header[3]), std::move(payload)};
}

std::optional<std::string> ReadPacket(ScriptedConnection& c) {
    auto packet = ReadClientPacket(c);
    if (!packet) return std::nullopt;
    return std::move(packet->payload);
}

// Holds the connection without a word until the client goes away.
void StaySilent(ScriptedConnection& c) {
    c.RecvAll(std::chrono::seconds(120));
}

// A fresh 20-byte nonce, as servers make them (no zero byte).
std::string Nonce() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!#%&()*+,-./:;<=>?@[]^_{|}~";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string nonce(20, ' ');
    for (char& ch : nonce) ch = kLetters[pick(random)];
    return nonce;
}

std::string Digest(const EVP_MD* md, const std::string& data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), out, &length, md, nullptr);
    return std::string(reinterpret_cast<const char*>(out), length);
}

std::string Xor(std::string a, const std::string& b) {
    for (std::size_t i = 0; i < a.size() && !b.empty(); ++i) a[i] ^= b[i % b.size()];
    return a;
}

// The check a server makes with what it stores of a password, stage2 = H(H(password)):
// the answer XOR H(stage2 and nonce, in the method's order) must hash to stage2.
bool ScrambleMatches(const EVP_MD* md, bool nonceFirst, const std::string& answer,
                     const std::string& nonce, const std::string& password) {
    const std::string stage2 = Digest(md, Digest(md, password));
    const std::string mask = Digest(md, nonceFirst ? nonce + stage2 : stage2 + nonce);
    return answer.size() == stage2.size() && Digest(md, Xor(answer, mask)) == stage2;
}

// RSA-OAEP decryption with the openssl tool; none when it fails.
std::optional<std::string> RsaDecrypt(const std::string& privateKey, const std::string& cipher) {
    TempDir dir("travik-rsa");
    WriteFile(dir / "cipher", cipher);
    try {
        Openssl({"pkeyutl", "-decrypt", "-inkey", privateKey, "-pkeyopt", "rsa_padding_mode:oaep",
                 "-in", dir / "cipher", "-out", dir / "plain"});
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return ReadFile(dir / "plain");
}

std::string ZeroTerminated(const std::string& packet, std::size_t& pos) {
    const std::size_t end = std::min(packet.find('\0', pos), packet.size());
    std::string text = packet.substr(std::min(pos, packet.size()), end - std::min(pos, end));
    pos = end + 1;
    return text;
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

std::vector<std::vector<std::string>> ScriptedMysql::AuthSteps() {
    // A login the client gave up ends on the server's side once it sees the close.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::unique_lock lock(mutex_);
    while (authSteps_.size() < static_cast<std::size_t>(server_->connections()) &&
           std::chrono::steady_clock::now() < deadline) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        lock.lock();
    }
    return authSteps_;
}

bool ScriptedMysql::Authenticate(ScriptedConnection& c, std::vector<std::string>& steps) {
    const Options::Authentication& a = *options_.auth;
    std::string nonce = Nonce();
    c.Send(
        Packet(0, PluginGreeting(options_.version, a.greetingMethod, nonce, !a.tlsCert.empty())));
    auto login = ReadClientPacket(c);
    const auto flagsOf = [](const std::string& packet) {
        std::uint32_t flags = 0;
        for (std::size_t i = 0; i < 4 && i < packet.size(); ++i)
            flags |= static_cast<std::uint32_t>(static_cast<unsigned char>(packet[i])) << (8 * i);
        return flags;
    };
    if (login && !a.tlsCert.empty() && login->payload.size() == 32 &&
        (flagsOf(login->payload) & 0x800)) {
        if (!c.StartTls(a.tlsCert, a.tlsKey)) login.reset();
        steps.push_back("tls");
        if (login) login = ReadClientPacket(c);
    }
    if (!login) {
        steps.push_back("gone");
        return false;
    }
    const std::string& p = login->payload;
    const std::uint32_t flags = flagsOf(p);
    std::uint8_t seq = static_cast<std::uint8_t>(login->seq + 1);
    std::size_t pos = 32;
    const std::string user = ZeroTerminated(p, pos);
    std::string answer;
    if (flags & 0x8000) {
        const std::size_t length = pos < p.size() ? static_cast<unsigned char>(p[pos]) : 0;
        answer = p.substr(std::min(pos + 1, p.size()), length);
        pos += 1 + length;
    } else {
        answer = ZeroTerminated(p, pos);
    }
    if (flags & 0x8) ZeroTerminated(p, pos);
    std::string method = (flags & 0x80000) ? ZeroTerminated(p, pos) : "mysql_native_password";
    steps.push_back("login " + method);

    // One packet to the client and its answer; none when it went away.
    const auto exchange = [&](const std::string& packet) -> std::optional<std::string> {
        c.Send(Packet(seq, packet));
        auto next = ReadClientPacket(c);
        if (!next) {
            steps.push_back("gone");
            return std::nullopt;
        }
        seq = static_cast<std::uint8_t>(next->seq + 1);
        return std::move(next->payload);
    };
    int switches = 0;
    while (method != a.accountMethod || switches < a.extraSwitches) {
        nonce = Nonce();
        steps.push_back("switch " + a.accountMethod);
        const auto next = exchange("\xfe" + a.accountMethod + '\0' + nonce + '\0');
        if (!next) return false;
        answer = *next;
        method = a.accountMethod;
        ++switches;
    }

    const auto verdict = [&](bool accepted) {
        steps.push_back(accepted ? "ok" : "denied");
        c.Send(Packet(seq, accepted ? Ok()
                                    : Error(1045, "Access denied for user '" + user +
                                                      "'@'localhost' (using password: YES)")));
        return accepted;
    };
    // The password itself: in clear over TLS; otherwise the client asks for the public
    // key with `keyRequest` and answers with the password encrypted under it.
    const auto passwordMatches = [&](const std::string& first,
                                     const std::string& keyRequest) -> std::optional<bool> {
        if (c.IsTls()) {
            steps.push_back("password");
            return first == a.password + '\0';
        }
        if (first != keyRequest) return false;
        steps.push_back("public key");
        const auto cipher = exchange("\x01" + ReadFile(a.rsaPublicKey));
        if (!cipher) return std::nullopt;
        steps.push_back("rsa");
        const auto plain = RsaDecrypt(a.rsaPrivateKey, *cipher);
        return plain && Xor(*plain, nonce) == a.password + '\0';
    };
    if (method == "mysql_native_password")
        return verdict(ScrambleMatches(EVP_sha1(), true, answer, nonce, a.password));
    if (method == "sha256_password") {
        const auto matches = passwordMatches(answer, "\x01");
        return matches && verdict(*matches);
    }
    if (method == "caching_sha2_password") {
        if (a.cached) {
            steps.push_back("scramble");
            if (!ScrambleMatches(EVP_sha256(), false, answer, nonce, a.password))
                return verdict(false);
            steps.push_back("fast");
            c.Send(Packet(seq++, "\x01\x03"));
            return verdict(true);
        }
        steps.push_back("full");
        const auto first = exchange("\x01\x04");
        if (!first) return false;
        const auto matches = passwordMatches(*first, "\x02");
        return matches && verdict(*matches);
    }
    return verdict(false);
}

void ScriptedMysql::Serve(ScriptedConnection& c, int index) {
    if (options_.refuse) {
        if (const std::string refusal = options_.refuse(index); !refusal.empty()) {
            c.Send(refusal);
            return;
        }
    }
    if (options_.auth) {
        std::vector<std::string> steps;
        const bool accepted = Authenticate(c, steps);
        std::lock_guard lock(mutex_);
        ++logins_;
        authSteps_.push_back(steps);
        if (!accepted) return;
    } else {
        c.Send(Packet(0, Greeting(options_.version)));
        if (!ReadPacket(c)) return;  // the login
        {
            std::lock_guard lock(mutex_);
            ++logins_;
        }
        const std::string login =
            options_.loginAnswer ? options_.loginAnswer(index) : Packet(2, Ok());
        if (login.empty()) return StaySilent(c);
        c.Send(login);
    }
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

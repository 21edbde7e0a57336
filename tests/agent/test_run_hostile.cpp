// The agent against web servers that misbehave (scripted, since nginx will not): a
// transfer cut short, a server that always sends the wrong bytes, one that is not there.
// The database is a real MariaDB naming the packages.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AgentRun.h"
#include "testsupport/ScriptedServer.h"

namespace {

using agenttest::AgentFolder;

std::string Package() {
    std::string body(300 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7919u) >> 5);
    return body;
}

// The request lines the scripted servers received, in order.
struct Requests {
    std::mutex mutex;
    std::vector<std::string> heads;
    void Add(const std::string& head) {
        std::lock_guard lock(mutex);
        heads.push_back(head);
    }
    std::vector<std::string> Get() {
        std::lock_guard lock(mutex);
        return heads;
    }
};

std::string RangeStart(const std::string& head) {
    const auto at = head.find("Range: bytes=");
    if (at == std::string::npos) return "";
    return head.substr(at + 13, head.find('-', at + 13) - (at + 13));
}

class Hostile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        body_ = Package();
        // The first answer stops after a third of the body and closes; later requests get
        // the rest when they ask for a range, else the whole file.
        cut_ = std::make_unique<testsupport::ScriptedServer>(
            [](testsupport::ScriptedConnection& c, int index) {
                const std::string head = c.RecvUntil("\r\n\r\n");
                cutRequests_.Add(head);
                const std::string from = RangeStart(head);
                if (index == 0) {
                    c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body_.size()) +
                           "\r\n\r\n" + body_.substr(0, body_.size() / 3));
                } else if (!from.empty()) {
                    const std::size_t start = std::stoul(from);
                    c.Send("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes " + from + "-" +
                           std::to_string(body_.size() - 1) + "/" + std::to_string(body_.size()) +
                           "\r\nContent-Length: " + std::to_string(body_.size() - start) +
                           "\r\n\r\n" + body_.substr(start));
                } else {
                    c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body_.size()) +
                           "\r\n\r\n" + body_);
                }
                c.Close();
            });
        // Every answer is complete but holds other bytes.
        garbage_ = std::make_unique<testsupport::ScriptedServer>(
            [](testsupport::ScriptedConnection& c, int) {
                garbageRequests_.Add(c.RecvUntil("\r\n\r\n"));
                c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body_.size()) +
                       "\r\n\r\n" + std::string(body_.size(), 'x'));
                c.Close();
            });
        const std::string md5 = Md5Of(body_);
        std::string rows;
        rows += agenttest::InsertVersion(
            {1, 1, 0, 5, 0, 0, 0, cut_->url("/pacote.bin"), md5, "pacote.bin"});
        rows += agenttest::InsertVersion(
            {2, 2, 0, 5, 0, 0, 0, garbage_->url("/pacote.bin"), md5, "pacote.bin"});
        unreachable_ =
            "http://127.0.0.1:" + std::to_string(testsupport::FreePort()) + "/pacote.bin";
        rows += agenttest::InsertVersion({3, 3, 0, 5, 0, 0, 0, unreachable_, md5, "pacote.bin"});
        db_ = agenttest::StartUpdateDatabase(rows);
    }
    static void TearDownTestSuite() {
        db_.reset();
        cut_.reset();
        garbage_.reset();
    }
    static std::string Md5Of(const std::string& bytes) {
        testsupport::TempDir dir;
        testsupport::WriteFile(dir / "f", bytes);
        return agenttest::Md5Sum(dir / "f");
    }
    static testsupport::ProcessResult RunSystem(const AgentFolder& agent, int sistema) {
        return agent.Run({"5", "5", std::to_string(sistema), "1", agent / "p"}, db_->port());
    }

    static inline std::string body_;
    static inline std::string unreachable_;
    static inline Requests cutRequests_, garbageRequests_;
    static inline std::unique_ptr<testsupport::ScriptedServer> cut_, garbage_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
};

TEST_F(Hostile, ATransferCutShortIsCompletedByTheNextAttempt) {
    AgentFolder agent;
    const auto r = RunSystem(agent, 1);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, agenttest::kAlertLine);
    EXPECT_EQ(testsupport::ReadFile(agent / "pacote.bin"), body_);
    EXPECT_FALSE(testsupport::PathExists(agent / "pacote.bin.part"));
    const auto heads = cutRequests_.Get();
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[0].rfind("GET /pacote.bin HTTP/1.0\r\n", 0), 0u) << heads[0];
    EXPECT_EQ(RangeStart(heads[0]), "");
    // The second attempt either resumes after what arrived or starts over; both must end
    // with the right file.
    const std::string from = RangeStart(heads[1]);
    if (!from.empty()) {
        EXPECT_GT(std::stoul(from), 0u);
        EXPECT_LE(std::stoul(from), body_.size() / 3);
    }
    EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
              agenttest::IniText("5000000000000", agent / "pacote.bin"));
}

TEST_F(Hostile, AServerSendingOtherBytesGetsThreeAttemptsThenTheError) {
    AgentFolder agent;
    const auto r = RunSystem(agent, 2);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    std::string obtained = Md5Of(std::string(body_.size(), 'x'));
    for (char& c : obtained) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(r.err, "Erro ao fazer o download do arquivo pacote.bin\nMotivo: MD5 esperado " +
                         Md5Of(body_) + ", obtido " + obtained + ".\n");
    EXPECT_EQ(garbageRequests_.Get().size(), 3u);
    EXPECT_FALSE(testsupport::PathExists(agent / "pacote.bin"));
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}

TEST_F(Hostile, AnUnreachableWebServerGetsThreeAttemptsThenTheError) {
    AgentFolder agent;
    const auto r = RunSystem(agent, 3);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err,
              "Erro ao fazer o download do arquivo pacote.bin\nMotivo: erro de conexão "
              "10061: Connection refused (" +
                  unreachable_ + ")\n");
    EXPECT_FALSE(testsupport::PathExists(agent / "pacote.bin"));
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}

}  // namespace

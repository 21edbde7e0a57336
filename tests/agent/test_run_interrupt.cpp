// A transfer the user closes: SIGTERM or SIGINT ("Fechar") pauses it, the process ends
// quietly with status 0, and the next run resumes from the working file. Also the
// progress line, which appears only when standard error is a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "AgentRun.h"

namespace {

using agenttest::AgentFolder;
using namespace std::chrono_literals;

constexpr std::size_t kSize = 1200 * 1024;

// Plain requests under /lento/ are slowed down so a signal lands mid-transfer; a
// resumed (ranged) request is served at full speed.
const char* kSlowConfig =
    "    location /lento/ {\n"
    "      set $limit_rate 256k;\n"
    "      if ($http_range != \"\") { set $limit_rate 0; }\n"
    "    }\n";

class Interrupt : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        www_ = std::make_unique<testsupport::TempDir>("travik-www");
        std::filesystem::create_directory(*www_ / "lento");
        std::string package(kSize, '\0');
        for (std::size_t i = 0; i < package.size(); ++i)
            package[i] = static_cast<char>((i * 2654435761u) >> 13);
        testsupport::WriteFile(*www_ / "lento/grande.bin", package);
        testsupport::WriteFile(*www_ / "lento/pequeno.bin", package.substr(0, 200 * 1024));
        web_ = std::make_unique<testsupport::NginxServer>(www_->path(), kSlowConfig);
        std::string rows;
        rows +=
            agenttest::InsertVersion({1, 1, 0, 4, 0, 0, 0, web_->url("/lento/grande.bin"),
                                      agenttest::Md5Sum(*www_ / "lento/grande.bin"), "grande.bin"});
        rows += agenttest::InsertVersion({2, 2, 0, 4, 0, 0, 0, web_->url("/lento/pequeno.bin"),
                                          agenttest::Md5Sum(*www_ / "lento/pequeno.bin"),
                                          "pequeno.bin"});
        db_ = agenttest::StartUpdateDatabase(rows);
    }
    static void TearDownTestSuite() {
        db_.reset();
        web_.reset();
        www_.reset();
    }
    static std::vector<std::string> Args(const AgentFolder& agent, int sistema) {
        return {"3000000000000", "3.0", std::to_string(sistema), "1", agent / "p"};
    }

    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::unique_ptr<testsupport::NginxServer> web_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
};

// Waits until the file holds at least `bytes` bytes.
bool WaitForSize(const std::string& path, std::uintmax_t bytes) {
    for (int i = 0; i < 1000; ++i) {
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) >= bytes && !ec) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST_F(Interrupt, CloseDuringTheTransferPausesAndTheNextRunResumes) {
    for (const int signo : {SIGTERM, SIGINT}) {
        AgentFolder agent;
        const std::string part = agent / "grande.bin.part";
        const std::size_t mark = web_->AccessLog().size();
        testsupport::Process first(agent.Options(Args(agent, 1), db_->port()));
        ASSERT_TRUE(WaitForSize(part, 100 * 1024));
        first.Signal(signo);
        const auto r1 = first.Wait(30s);
        EXPECT_EQ(r1.exitStatus, 0) << r1.err;
        EXPECT_EQ(r1.out, "");      // no alert
        EXPECT_EQ(r1.err, "");      // no error
        EXPECT_LT(r1.elapsed, 4s);  // it did not wait for the rest of the transfer
        ASSERT_TRUE(testsupport::PathExists(part));
        const auto kept = std::filesystem::file_size(part);
        EXPECT_GT(kept, 0u);
        EXPECT_LT(kept, kSize);
        EXPECT_FALSE(testsupport::PathExists(agent / "grande.bin"));
        EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
        ASSERT_EQ(web_->AccessLogSince(mark).size(), 1u);

        const auto r2 = agent.Run(Args(agent, 1), db_->port());
        EXPECT_EQ(r2.exitStatus, 0) << r2.err;
        EXPECT_EQ(r2.out, agenttest::kAlertLine);
        const auto log = web_->AccessLogSince(mark);
        ASSERT_EQ(log.size(), 2u);
        EXPECT_EQ(log[1].range, "bytes=" + std::to_string(kept) + "-");
        EXPECT_EQ(log[1].status, "206");
        EXPECT_EQ(std::stoull(log[1].bytesSent), kSize - kept);
        EXPECT_EQ(agenttest::Md5Sum(agent / "grande.bin"),
                  agenttest::Md5Sum(*www_ / "lento/grande.bin"));
        EXPECT_FALSE(testsupport::PathExists(part));
        EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
                  agenttest::IniText("4000000000000", agent / "grande.bin"));
    }
}

// Runs the agent with standard error on a pseudo-terminal; returns what the terminal
// showed and the exit status. `whileRunning` is called with the child's id now and then.
std::pair<int, std::string> RunOnTerminal(const testsupport::Process::Options& o,
                                          const std::function<void(pid_t)>& whileRunning = {}) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return {-1, ""};
    const std::string slaveName = ::ptsname(master);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int slave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(slave, 2);
        if (::chdir(o.cwd.c_str()) != 0) ::_exit(126);
        for (const auto& [k, v] : o.env) ::setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> args;
        for (const auto& a : o.argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    std::string shown;
    int status = 0;
    for (bool exited = false; !exited;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0 && (p.revents & POLLIN) != 0) {
            char buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) shown.append(buffer, static_cast<std::size_t>(n));
        }
        exited = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!exited && whileRunning) whileRunning(pid);
    }
    char buffer[4096];
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<std::size_t>(n));
    ::close(master);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, shown};
}

TEST_F(Interrupt, ProgressLineOnATerminal) {
    AgentFolder agent;
    const auto [status, shown] = RunOnTerminal(agent.Options(Args(agent, 2), db_->port()));
    EXPECT_EQ(status, 0) << shown;
    // Each state is drawn over the previous one: carriage return, the text, erase to the
    // end of the line; the percentages only grow.
    EXPECT_EQ(shown.rfind("\r  0%\x1b[K", 0), 0u) << shown;
    int last = -1;
    std::size_t lines = 0;
    for (std::size_t at = shown.find("% Tempo Restante: "); at != std::string::npos;
         at = shown.find("% Tempo Restante: ", at + 1)) {
        const std::size_t start = shown.rfind('\r', at);
        ASSERT_NE(start, std::string::npos);
        const int percent = std::stoi(shown.substr(start + 1, at - start - 1));
        EXPECT_GE(percent, last);
        last = percent;
        ++lines;
    }
    EXPECT_GE(lines, 2u) << shown;
    EXPECT_GT(last, 0);
    EXPECT_EQ(shown.substr(shown.size() - 2), "\r\n");  // finished with a new line
    EXPECT_EQ(agenttest::Md5Sum(agent / "pequeno.bin"),
              agenttest::Md5Sum(*www_ / "lento/pequeno.bin"));
}

TEST_F(Interrupt, ThePausedTransferShowsOnTheTerminal) {
    AgentFolder agent;
    const std::string part = agent / "grande.bin.part";
    bool signalled = false;
    const auto [status, shown] =
        RunOnTerminal(agent.Options(Args(agent, 1), db_->port()), [&](pid_t pid) {
            std::error_code ec;
            if (!signalled && std::filesystem::file_size(part, ec) >= 100 * 1024 && !ec) {
                ::kill(pid, SIGTERM);
                signalled = true;
            }
        });
    EXPECT_TRUE(signalled);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_NE(shown.find("% Download Pausado...\x1b[K"), std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 2), "\r\n");
    EXPECT_TRUE(testsupport::PathExists(part));
}

}  // namespace

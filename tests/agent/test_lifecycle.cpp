// The real agent binary's life cycle: start, wait, abort rule, folder, end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "testsupport/ScriptedServer.h"
#include "testsupport/testsupport.h"

using namespace std::chrono_literals;
using testsupport::Process;
using testsupport::ProcessResult;
using testsupport::TempDir;

namespace {

// A copy of the agent in a folder of its own, as an installation has it.
struct Installation {
    Installation() {
        agent = dir / "TravikVersoes";
        const auto copy = testsupport::Run({.argv = {"cp", testsupport::AgentBinary(), agent}});
        EXPECT_EQ(copy.exitStatus, 0) << copy.err;
    }
    Process::Options Options(std::vector<std::string> args,
                             std::map<std::string, std::string> env = {}) const {
        args.insert(args.begin(), agent);
        if (!env.count("TRAVIK_START_DELAY_MS")) env["TRAVIK_START_DELAY_MS"] = "200";
        // Nothing may reach a real database from these tests.
        if (!env.count("TRAVIK_DB_HOST"))
            env["TRAVIK_DB_HOST"] = "127.0.0.1:" + std::to_string(testsupport::FreePort());
        return Process::Options{.argv = args, .env = env, .cwd = dir.path()};
    }
    // The names in the installation folder.
    std::string Listing() const { return testsupport::Run({.argv = {"ls", "-A", dir.path()}}).out; }

    TempDir dir{"travik-life"};
    std::string agent;
};

// Waits until the process has installed its handler for `signo` (SigCgt in /proc), so the
// signal is the agent's close command rather than the default end.
bool WaitUntilCatching(pid_t pid, int signo) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string status =
            testsupport::ReadFile("/proc/" + std::to_string(pid) + "/status");
        const auto at = status.find("SigCgt:");
        if (at != std::string::npos) {
            const unsigned long long mask = std::stoull(status.substr(at + 7), nullptr, 16);
            if ((mask >> (signo - 1)) & 1) return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

}  // namespace

TEST(LifeCycle, WithoutArgumentsTheAgentEndsAfterTheDelayHavingDoneNothing) {
    Installation inst;
    const ProcessResult r =
        testsupport::Run(inst.Options({}, {{"TRAVIK_START_DELAY_MS", "400"}}), 20s);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_GE(r.elapsed, 400ms);
    EXPECT_LT(r.elapsed, 4s);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(inst.Listing(), "TravikVersoes\n");
}

TEST(LifeCycle, ADelayOfZeroRunsAtOnce) {
    Installation inst;
    const ProcessResult r =
        testsupport::Run(inst.Options({}, {{"TRAVIK_START_DELAY_MS", "0"}}), 20s);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_LT(r.elapsed, 4s);
}

TEST(LifeCycle, TheDefaultDelayIsFiveSeconds) {
    Installation inst;
    auto options = inst.Options({"1001000000000", "1.0.0.0", "1", "   "});
    options.env.erase("TRAVIK_START_DELAY_MS");
    options.unsetEnv = {"TRAVIK_START_DELAY_MS"};
    const ProcessResult r = testsupport::Run(options, 30s);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_GE(r.elapsed, 5s);
    EXPECT_LT(r.elapsed, 9s);
}

TEST(LifeCycle, BlankMissingOrControlArgumentsAbortSilently) {
    Installation inst;
    const std::string folder = inst.dir / "work/pasta";
    const std::vector<std::vector<std::string>> cases = {
        {"1001000000000", "1.0.0.0", "1", "42"},
        {"1001000000000", " ", "1", "42", folder},
        {"1001000000000", "1.0.0.0", "\t\x01", "42", folder},
        {"1001000000000", "1.0.0.0", "1", "42", "  \n"},
    };
    for (const auto& args : cases) {
        const ProcessResult r = testsupport::Run(inst.Options(args), 20s);
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(r.out + r.err, "");
    }
    EXPECT_EQ(inst.Listing(), "TravikVersoes\n");
}

TEST(LifeCycle, AMissingFolderIsCreatedWithItsParentsBeforeTheDatabaseIsContacted) {
    Installation inst;
    const std::string folder = inst.dir / "a/b/c";
    std::atomic<int> folderAtConnect{-1};
    testsupport::ScriptedServer database([&](testsupport::ScriptedConnection& connection, int) {
        folderAtConnect = testsupport::PathExists(folder) ? 1 : 0;
        connection.Close();
    });
    const ProcessResult r = testsupport::Run(
        inst.Options({"1001000000000", "1.0.0.0", "abc", "2147483648", folder},
                     {{"TRAVIK_DB_HOST", "127.0.0.1:" + std::to_string(database.port())}}),
        60s);
    EXPECT_TRUE(testsupport::PathExists(folder));
    if (database.connections() > 0) {
        EXPECT_EQ(folderAtConnect.load(), 1);
    }
    // Either no exchange happens, or it fails against this server and the error box ends
    // the agent with status 1.
    if (r.exitStatus == 0) {
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_NE(r.err, "");
    }
}

TEST(LifeCycle, TerminationSignalsDuringTheWaitEndTheAgentPromptly) {
    for (const int signo : {SIGTERM, SIGINT}) {
        Installation inst;
        const std::string folder = inst.dir / "pasta";
        Process agent(inst.Options({"1001000000000", "1.0.0.0", "1", "42", folder},
                                   {{"TRAVIK_START_DELAY_MS", "30000"}}));
        ASSERT_TRUE(WaitUntilCatching(agent.pid(), signo));
        std::this_thread::sleep_for(100ms);
        const auto sent = std::chrono::steady_clock::now();
        agent.Signal(signo);
        const ProcessResult r = agent.Wait(10s);
        EXPECT_EQ(r.exitStatus, 0) << "signal " << signo;
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_FALSE(testsupport::PathExists(folder));
    }
}

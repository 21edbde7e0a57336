// N agents started at once (default 300) against one local MariaDB with its default
// max_connections and one local nginx, each in a folder of its own, each fetching the
// same 1 MiB package. Reports how many ended with the package, how many with an error
// (grouped by the message on standard error), whether every package left behind is
// byte-exact, and the p50 and p99 run times (process start to end, every run).
//
//   TRAVIK_BURST_AGENTS  number of agents (default 300)
//   TRAVIK_BURST_AGENT   the agent binary to run (default: the one built with this
//                        program), e.g. one built from an earlier commit
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "testsupport/testsupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kPackageSize = 1u << 20;
constexpr const char* kName = "pacote-1.bin";

int AgentCount() {
    const char* text = std::getenv("TRAVIK_BURST_AGENTS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 300;
}

std::string AgentToRun() {
    const char* text = std::getenv("TRAVIK_BURST_AGENT");
    return text && *text ? text : testsupport::AgentBinary();
}

struct Agent {
    std::string folder;
    pid_t pid = -1;
    Clock::time_point start, end;
    int status = -1;
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

void BM_AgentBurst(benchmark::State& state) {
    testsupport::TempDir www{"travik-burst-www"};
    bench::WritePackage(www / kName, kPackageSize);
    const std::string package = testsupport::ReadFile(www / kName);
    const std::string md5 = testsupport::Run({.argv = {"md5sum", www / kName}}).out.substr(0, 32);
    testsupport::NginxServer web(www.path());
    testsupport::MariaDbServer db(testsupport::MariaDbServer::Options{
        .initSql =
            bench::UpdateDatabaseWithOneVersion(web.url(std::string("/") + kName), md5, kName),
        .generalLog = false});

    const int n = AgentCount();
    const std::string binary = AgentToRun();
    testsupport::TempDir root{"travik-burst-agents"};
    std::vector<Agent> agents(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        Agent& a = agents[static_cast<std::size_t>(i)];
        a.folder = root / ("a" + std::to_string(i));
        std::filesystem::create_directories(a.folder + "/Atualizacao_retaguarda");
        // A hard link keeps 300 installations cheap; the agent's folder is the link's.
        std::error_code error;
        std::filesystem::create_hard_link(binary, a.folder + "/TravikVersoes", error);
        if (error) std::filesystem::copy_file(binary, a.folder + "/TravikVersoes");
    }
    const std::string dbHost = "TRAVIK_DB_HOST=127.0.0.1:" + std::to_string(db.port());

    for (auto _ : state) {
        const Clock::time_point burst = Clock::now();
        for (Agent& a : agents) {
            a.start = Clock::now();
            a.pid = ::fork();
            if (a.pid == 0) {
                const int devnull = ::open("/dev/null", O_RDWR);
                const int err =
                    ::open((a.folder + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                ::dup2(devnull, 0);
                ::dup2(devnull, 1);
                ::dup2(err, 2);
                if (::chdir(a.folder.c_str()) != 0) ::_exit(126);
                ::putenv(const_cast<char*>(dbHost.c_str()));
                ::putenv(const_cast<char*>("TRAVIK_START_DELAY_MS=0"));
                const std::string agent = a.folder + "/TravikVersoes";
                ::execl(agent.c_str(), agent.c_str(), "1000000000000", "1.0", "1", "1",
                        (a.folder + "/p").c_str(), static_cast<char*>(nullptr));
                ::_exit(127);
            }
        }
        for (std::size_t left = agents.size(); left > 0;) {
            int status = 0;
            const pid_t pid = ::waitpid(-1, &status, 0);
            if (pid < 0) break;
            for (Agent& a : agents) {
                if (a.pid != pid) continue;
                a.end = Clock::now();
                a.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                --left;
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - burst).count());
    }

    int withPackage = 0, errors = 0, otherEnds = 0, corrupted = 0;
    std::map<std::string, int> byMessage;
    std::vector<double> runMs;
    for (const Agent& a : agents) {
        runMs.push_back(std::chrono::duration<double, std::milli>(a.end - a.start).count());
        const std::string path = a.folder + "/" + kName;
        const bool present = testsupport::PathExists(path);
        if (present && testsupport::ReadFile(path) != package) ++corrupted;
        if (a.status == 0 && present) {
            ++withPackage;
        } else if (a.status == 1) {
            ++errors;
            std::string message = testsupport::ReadFile(a.folder + "/stderr");
            for (auto& c : message)
                if (c == '\r' || c == '\n') c = ' ';
            ++byMessage[message];
        } else {
            ++otherEnds;
            ++byMessage["(exit status " + std::to_string(a.status) + ")"];
        }
    }
    std::fprintf(stderr, "%d agents: %d with the package, %d with an error, %d other ends\n", n,
                 withPackage, errors, otherEnds);
    for (const auto& [message, count] : byMessage)
        std::fprintf(stderr, "  %4d  %s\n", count, message.c_str());
    std::fprintf(stderr, "packages byte-exact: %s (%d corrupted)\n", corrupted == 0 ? "yes" : "no",
                 corrupted);
    state.counters["agents"] = n;
    state.counters["with_package"] = withPackage;
    state.counters["errors"] = errors;
    state.counters["corrupted"] = corrupted;
    state.counters["p50_ms"] = Percentile(runMs, 0.50);
    state.counters["p99_ms"] = Percentile(runMs, 0.99);
}
BENCHMARK(BM_AgentBurst)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

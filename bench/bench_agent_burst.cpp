// The morning after a release: a fleet of agents started together (or spread over some
// seconds) against one local MariaDB with its default max_connections (151) and one local
// nginx, each agent in a folder of its own fetching the same package, at a rate per
// connection as on a client's line. Reports how many runs ended with the package and how
// many with an error (grouped by the message on standard error), whether every package
// left behind is byte-exact, the p50 and p99 run times (process start to end), and the
// peak number of the agent account's connections on the server (sampled from the process
// list every 100 ms) beside the peak number of transfers running at once.
//
//   --agents=N       number of agents (default 300)
//   --spread=S       start them evenly over S seconds (default 0: all at once)
//   --size=BYTES     package size, with an optional K or M suffix (default 1M)
//   --rate=RATE      nginx limit_rate per connection, e.g. 64k (default: unlimited)
//   --agent=PATH     the agent binary to run (default: the one built with this program),
//                    e.g. one built from an earlier commit
//   --timeout=S      agents still running S seconds after the last start are killed
//                    (default 600)
//
// The agents run at the lowest priority (nice 19), so the servers and the sampling keep
// the CPU they need on a small machine. The fleet morning the agent is built for:
//
//   bench_agent_burst --agents=1000 --spread=30 --size=1M --rate=64k
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbQuery.h"
#include "testsupport/testsupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kName = "pacote-1.bin";

struct Settings {
    int agents = 300;
    double spreadSeconds = 0;
    std::size_t packageSize = 1u << 20;
    std::string rate;  // nginx limit_rate, empty: unlimited
    std::string agent;
    double timeoutSeconds = 600;
};
Settings gSettings;

std::size_t ParseSize(const std::string& text) {
    std::size_t end = 0;
    const double value = std::stod(text, &end);
    const char unit = end < text.size() ? static_cast<char>(text[end] | 0x20) : '\0';
    const double factor = unit == 'k' ? 1024.0 : unit == 'm' ? 1024.0 * 1024.0 : 1.0;
    return static_cast<std::size_t>(value * factor);
}

// Takes this benchmark's own options out of argv; the rest is for the benchmark library.
bool ParseOptions(int& argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](const char* name) -> const char* {
            const std::string prefix = std::string("--") + name + "=";
            return arg.rfind(prefix, 0) == 0 ? argv[i] + prefix.size() : nullptr;
        };
        try {
            if (const char* v = value("agents")) {
                gSettings.agents = std::stoi(v);
            } else if (const char* v = value("spread")) {
                gSettings.spreadSeconds = std::stod(v);
            } else if (const char* v = value("size")) {
                gSettings.packageSize = ParseSize(v);
            } else if (const char* v = value("rate")) {
                gSettings.rate = v;
            } else if (const char* v = value("agent")) {
                gSettings.agent = v;
            } else if (const char* v = value("timeout")) {
                gSettings.timeoutSeconds = std::stod(v);
            } else {
                argv[kept++] = argv[i];
            }
        } catch (const std::exception&) {
            std::fprintf(stderr, "bench_agent_burst: bad value in %s\n", arg.c_str());
            return false;
        }
    }
    argc = kept;
    if (gSettings.agents < 1 || gSettings.spreadSeconds < 0 || gSettings.packageSize == 0) {
        std::fprintf(stderr, "bench_agent_burst: --agents, --spread and --size must be positive\n");
        return false;
    }
    if (gSettings.agent.empty()) gSettings.agent = testsupport::AgentBinary();
    return true;
}

// 1000 agents need as many descriptors in nginx and in this process as there are
// connections: take the hard limit.
void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string Limit(int resource) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) != 0) return "?";
    return limit.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(limit.rlim_cur);
}

std::string LoadAverage() {
    std::string text = testsupport::ReadFile("/proc/loadavg");
    return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
}

struct Agent {
    std::string folder;
    std::vector<std::string> argv;
    pid_t pid = -1;
    Clock::time_point start, end;
    int status = -1;
    bool killed = false;
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

// Everything the child needs is built before the fork: between fork and exec it only
// makes system calls.
struct ChildEnvironment {
    std::vector<std::string> strings;
    std::vector<char*> pointers;
    explicit ChildEnvironment(const std::string& dbHost) {
        for (char** e = environ; *e != nullptr; ++e)
            if (std::strncmp(*e, "TRAVIK_", 7) != 0) strings.emplace_back(*e);
        strings.push_back("TRAVIK_DB_HOST=" + dbHost);
        strings.push_back("TRAVIK_START_DELAY_MS=0");
        for (auto& s : strings) pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
};

void Start(Agent& a, char* const* envp) {
    std::vector<char*> argv;
    for (auto& s : a.argv) argv.push_back(s.data());
    argv.push_back(nullptr);
    const std::string errPath = a.folder + "/stderr";
    a.start = Clock::now();
    a.pid = ::fork();
    if (a.pid == 0) {
        ::setpriority(PRIO_PROCESS, 0, 19);
        const int devnull = ::open("/dev/null", O_RDWR);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(err, 2);
        if (::chdir(a.folder.c_str()) != 0) ::_exit(126);
        ::execve(argv[0], argv.data(), envp);
        ::_exit(127);
    }
}

// Samples, every 100 ms, the agent account's connections in the server's process list
// (as the administrator, on a connection opened before the agents start) and the
// transfers running (working files present).
class Sampler {
  public:
    Sampler(int dbPort, const std::vector<Agent>& agents) : agents_(agents) {
        connection_.SetHost("127.0.0.1");
        connection_.SetPortNumber(static_cast<std::uint32_t>(dbPort));
        connection_.SetUserName(testsupport::MariaDbServer::kAdminUser);
        connection_.SetUserPassword(testsupport::MariaDbServer::kAdminPassword);
        connection_.SetConnected(true);
        query_.SetDatabase(&connection_);
        query_.SetRawText(true);
        query_.SQL().Add(
            "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE USER = 'atualizacaodb'");
        thread_ = std::thread([this] { Loop(); });
    }
    ~Sampler() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    int peakConnections = 0;
    int peakTransfers = 0;
    int transfersAtPeakConnections = 0;
    int samples = 0;
    int failedSamples = 0;

  private:
    void Loop() {
        while (!stop_) {
            int connections = -1;
            try {
                query_.Open();
                connections = query_.Fields()[0].AsInteger();
                query_.Close();
            } catch (const std::exception&) {
                ++failedSamples;
                query_.Close();
            }
            int transfers = 0;
            for (const Agent& a : agents_)
                if (std::filesystem::exists(a.folder + "/" + kName + ".part")) ++transfers;
            ++samples;
            if (connections > peakConnections) {
                peakConnections = connections;
                transfersAtPeakConnections = transfers;
            }
            peakTransfers = std::max(peakTransfers, transfers);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    const std::vector<Agent>& agents_;
    dbclient::TDbConnection connection_;
    dbclient::TDbQuery query_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_AgentBurst(benchmark::State& state) {
    const Settings& s = gSettings;
    RaiseOpenFileLimit();
    testsupport::TempDir www{"travik-burst-www"};
    bench::WritePackage(www / kName, s.packageSize);
    const std::string package = testsupport::ReadFile(www / kName);
    const std::string md5 = testsupport::Run({.argv = {"md5sum", www / kName}}).out.substr(0, 32);
    testsupport::NginxServer web(www.path(), s.rate.empty() ? "" : "limit_rate " + s.rate + ";");
    testsupport::MariaDbServer db(testsupport::MariaDbServer::Options{
        .extraArgs = {"--max-connections=151"},
        .initSql =
            bench::UpdateDatabaseWithOneVersion(web.url(std::string("/") + kName), md5, kName),
        .generalLog = false});

    const int n = s.agents;
    testsupport::TempDir root{"travik-burst-agents"};
    std::vector<Agent> agents(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        Agent& a = agents[static_cast<std::size_t>(i)];
        a.folder = root / ("a" + std::to_string(i));
        std::filesystem::create_directories(a.folder + "/Atualizacao_retaguarda");
        // A hard link keeps a thousand installations cheap; the agent's folder is the link's.
        std::error_code error;
        std::filesystem::create_hard_link(s.agent, a.folder + "/TravikVersoes", error);
        if (error) std::filesystem::copy_file(s.agent, a.folder + "/TravikVersoes");
        a.argv = {a.folder + "/TravikVersoes", "1000000000000", "1.0", "1", "1", a.folder + "/p"};
    }
    ChildEnvironment env("127.0.0.1:" + std::to_string(db.port()));
    std::fprintf(stderr,
                 "%d agents over %.0f s, package %zu bytes, rate %s, agent %s\n"
                 "limits: open files %s, processes %s; load average before: %s\n",
                 n, s.spreadSeconds, s.packageSize, s.rate.empty() ? "unlimited" : s.rate.c_str(),
                 s.agent.c_str(), Limit(RLIMIT_NOFILE).c_str(), Limit(RLIMIT_NPROC).c_str(),
                 LoadAverage().c_str());

    Sampler sampler(db.port(), agents);
    for (auto _ : state) {
        const Clock::time_point burst = Clock::now();
        std::size_t started = 0, left = agents.size();
        Clock::time_point deadline = Clock::time_point::max();
        while (left > 0) {
            const auto now = Clock::now();
            // Agent i starts i * spread / n seconds after the first.
            while (started < agents.size() &&
                   now - burst >= std::chrono::duration<double>(s.spreadSeconds *
                                                                static_cast<double>(started) / n)) {
                Start(agents[started++], env.pointers.data());
                if (started == agents.size())
                    deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(s.timeoutSeconds));
            }
            if (now > deadline) {
                for (Agent& a : agents)
                    if (a.pid > 0 && a.status < 0 && !a.killed) {
                        ::kill(a.pid, SIGKILL);
                        a.killed = true;
                    }
            }
            int status = 0;
            const pid_t pid = ::waitpid(-1, &status, WNOHANG);
            if (pid > 0) {
                for (Agent& a : agents) {
                    if (a.pid != pid) continue;
                    a.end = Clock::now();
                    a.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                    --left;
                }
                continue;
            }
            if (pid < 0 && started == agents.size()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - burst).count());
    }
    sampler.Stop();

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
            ++byMessage[a.killed ? "(killed at the time-out)"
                                 : "(exit status " + std::to_string(a.status) + ")"];
        }
    }
    std::fprintf(stderr, "%d agents: %d with the package, %d with an error, %d other ends\n", n,
                 withPackage, errors, otherEnds);
    for (const auto& [message, count] : byMessage)
        std::fprintf(stderr, "  %4d  %s\n", count, message.c_str());
    std::fprintf(stderr, "packages byte-exact: %s (%d corrupted)\n", corrupted == 0 ? "yes" : "no",
                 corrupted);
    std::fprintf(stderr,
                 "peak connections of the agent account: %d (transfers then: %d); peak transfers "
                 "at once: %d; %d samples, %d failed\nload average after: %s\n",
                 sampler.peakConnections, sampler.transfersAtPeakConnections, sampler.peakTransfers,
                 sampler.samples, sampler.failedSamples, LoadAverage().c_str());
    state.counters["agents"] = n;
    state.counters["with_package"] = withPackage;
    state.counters["errors"] = errors;
    state.counters["corrupted"] = corrupted;
    state.counters["p50_ms"] = Percentile(runMs, 0.50);
    state.counters["p99_ms"] = Percentile(runMs, 0.99);
    state.counters["peak_conns"] = sampler.peakConnections;
    state.counters["peak_transfers"] = sampler.peakTransfers;
}
BENCHMARK(BM_AgentBurst)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (!ParseOptions(argc, argv)) return 2;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

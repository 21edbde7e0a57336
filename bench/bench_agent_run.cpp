// One whole run of the agent (start delay 1 ms) that downloads and verifies a 256 MiB
// package from a local nginx, named by a local MariaDB. The wall time is split by what the
// agent leaves in its folder, watched with inotify:
//   exchange  start of the process until the working file "<name>.part" is created
//             (process start, login, REPLACE, the general SELECT with the query
//             component's SHOW INDEX and DESCRIBE);
//   transfer  working file created until it is renamed to the package name;
//   digest    rename until versao.ini is written (MD5 of the package and the INI);
//   ending    INI written until the process has ended (the client SELECT, the alert,
//             the exit).
// The peak memory is the child's maximum resident set size (wait4). For comparison the
// digest of the same file is also timed in this process with the agent's hasher.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "support/MD5Hasher.h"
#include "testsupport/testsupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kPackageSize = 256u << 20;
constexpr const char* kName = "pacote-256.bin";

// The servers and the package, made once and removed when the program ends.
struct Servers {
    testsupport::TempDir www{"travik-bench-www"};
    std::unique_ptr<testsupport::NginxServer> web;
    std::unique_ptr<testsupport::MariaDbServer> db;
    std::string md5;

    Servers() {
        bench::WritePackage(www / kName, kPackageSize);
        md5 = testsupport::Run({.argv = {"md5sum", www / kName}}).out.substr(0, 32);
        web = std::make_unique<testsupport::NginxServer>(www.path());
        db = std::make_unique<testsupport::MariaDbServer>(testsupport::MariaDbServer::Options{
            .initSql =
                bench::UpdateDatabaseWithOneVersion(web->url(std::string("/") + kName), md5, kName),
            .generalLog = false});
    }
};

Servers& TheServers() {
    static Servers servers;
    return servers;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct RunFigures {
    int exitStatus = -1;
    double exchangeMs = 0, transferMs = 0, digestMs = 0, endingMs = 0, totalMs = 0;
    double peakMiB = 0;
};

RunFigures RunAgentOnce(Servers& s) {
    testsupport::TempDir folder("travik-bench-agent");
    const std::string agent = folder / "TravikVersoes";
    std::filesystem::copy_file(testsupport::AgentBinary(), agent);
    std::filesystem::create_directory(folder / "Atualizacao_retaguarda");

    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ::inotify_add_watch(watch, folder.path().c_str(), IN_CREATE | IN_MOVED_TO);
    ::inotify_add_watch(watch, (folder / "Atualizacao_retaguarda").c_str(),
                        IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE);

    const std::string dbHost = "TRAVIK_DB_HOST=127.0.0.1:" + std::to_string(s.db->port());
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        if (::chdir(folder.path().c_str()) != 0) ::_exit(126);
        ::putenv(const_cast<char*>(dbHost.c_str()));
        ::putenv(const_cast<char*>("TRAVIK_START_DELAY_MS=0"));
        ::execl(agent.c_str(), agent.c_str(), "1000000000000", "1.0", "1", "1",
                (folder / "p").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    Clock::time_point partCreated{}, renamed{}, iniWritten{};
    const std::string part = std::string(kName) + ".part";
    int status = 0;
    rusage usage{};
    for (bool exited = false; !exited;) {
        pollfd p{watch, POLLIN, 0};
        if (::poll(&p, 1, 5) > 0) {
            alignas(inotify_event) char buffer[4096];
            const ssize_t n = ::read(watch, buffer, sizeof buffer);
            const Clock::time_point now = Clock::now();
            for (ssize_t i = 0; i < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + i);
                const std::string name = e->len > 0 ? e->name : "";
                if (name == part && (e->mask & IN_CREATE) && partCreated == Clock::time_point{})
                    partCreated = now;
                if (name == kName && (e->mask & IN_MOVED_TO)) renamed = now;
                if (name == "versao.ini" && (e->mask & (IN_MOVED_TO | IN_CLOSE_WRITE)))
                    iniWritten = now;
                i += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        exited = ::wait4(pid, &status, WNOHANG, &usage) == pid;
    }
    const Clock::time_point end = Clock::now();
    ::close(watch);

    RunFigures f;
    f.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    f.totalMs = Ms(end - start);
    if (partCreated != Clock::time_point{} && renamed != Clock::time_point{} &&
        iniWritten != Clock::time_point{}) {
        f.exchangeMs = Ms(partCreated - start);
        f.transferMs = Ms(renamed - partCreated);
        f.digestMs = Ms(iniWritten - renamed);
        f.endingMs = Ms(end - iniWritten);
    }
    f.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
    const bool verified =
        testsupport::Run({.argv = {"md5sum", folder / kName}}).out.substr(0, 32) == s.md5;
    if (!verified) f.exitStatus = f.exitStatus == 0 ? 99 : f.exitStatus;
    return f;
}

void BM_AgentRun256MiB(benchmark::State& state) {
    Servers& s = TheServers();
    RunFigures sum;
    double peak = 0;
    for (auto _ : state) {
        const RunFigures f = RunAgentOnce(s);
        if (f.exitStatus != 0 || f.transferMs == 0) {
            state.SkipWithError(
                ("agent run failed, status " + std::to_string(f.exitStatus)).c_str());
            return;
        }
        state.SetIterationTime(f.totalMs / 1000.0);
        sum.exchangeMs += f.exchangeMs;
        sum.transferMs += f.transferMs;
        sum.digestMs += f.digestMs;
        sum.endingMs += f.endingMs;
        peak = std::max(peak, f.peakMiB);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["exchange_ms"] = sum.exchangeMs / n;
    state.counters["transfer_ms"] = sum.transferMs / n;
    state.counters["digest_ini_ms"] = sum.digestMs / n;
    state.counters["ending_ms"] = sum.endingMs / n;
    state.counters["transfer_MiB_s"] =
        (kPackageSize / double(1 << 20)) / (sum.transferMs / n / 1000.0);
    state.counters["peak_rss_MiB"] = peak;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPackageSize));
}
BENCHMARK(BM_AgentRun256MiB)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// The digest of the same package in this process, for comparison with the digest phase.
void BM_DigestOfThePackage(benchmark::State& state) {
    Servers& s = TheServers();
    for (auto _ : state) {
        support::TMD5Hasher hasher;
        hasher.HashFile(s.www / kName);
        support::TMD5Digest digest;
        hasher.GetDigest(digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPackageSize));
}
BENCHMARK(BM_DigestOfThePackage)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

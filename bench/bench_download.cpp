// Downloads a 1 GiB file from a local nginx, over http and over https, with the download
// component and with `curl -o`, each in a child process of its own, and reports the wall
// time and the peak resident memory of each child (its whole process, from the kernel's
// accounting). The https server's certificate comes from a test CA, trusted through
// SSL_CERT_FILE by the component and through --cacert by curl.
// Run by hand: build/release/bench/bench_download
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "download/Downloader.h"
#include "platform/fs.h"
#include "testsupport/testsupport.h"

extern char** environ;

namespace {

constexpr std::int64_t kFileSize = std::int64_t{1} << 30;
constexpr const char* kChildFlag = "--component-download";

struct Fixture {
    Fixture() {
        std::string block(1 << 20, '\0');
        std::mt19937 rng(42);
        for (auto& c : block) c = static_cast<char>(rng() & 0xFF);
        std::ofstream out(root / "package.bin", std::ios::binary);
        for (std::int64_t written = 0; written < kFileSize;
             written += static_cast<std::int64_t>(block.size())) {
            block[0] = static_cast<char>(written >> 20);  // no two mebibytes alike
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        out.close();
        nginx = std::make_unique<testsupport::NginxServer>(root.path());
        const auto issued = certs.Issue("127.0.0.1", "IP:127.0.0.1");
        const testsupport::NginxTls tls{issued.cert, issued.key};
        secureNginx = std::make_unique<testsupport::NginxServer>(root.path(), "", &tls);
        ::setenv("SSL_CERT_FILE", certs.ca().c_str(), 1);
    }
    testsupport::TempDir root{"travik-bench-root"};
    testsupport::TempDir dest{"travik-bench-dest"};
    testsupport::TestCertificates certs;
    std::unique_ptr<testsupport::NginxServer> nginx;
    std::unique_ptr<testsupport::NginxServer> secureNginx;
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

struct ChildRun {
    double seconds = 0;
    double peakMiB = 0;
    int status = -1;
};

// Runs a program to its end; its peak memory comes from wait4's resource usage.
ChildRun RunChild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    ChildRun run;
    if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return run;
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

// One transfer in a child process; false when it failed or the file is incomplete.
bool Transfer(const std::vector<std::string>& argv, const std::string& target, ChildRun& run) {
    std::remove(target.c_str());
    run = RunChild(argv);
    const bool ok = run.status == 0 && platform::fs::FileSize(target) == kFileSize;
    std::remove(target.c_str());
    return ok;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The component and curl take turns, so both see the same machine load; the reported
// time is the component's, the counters give both and their ratio (medians).
void BM_ComponentVsCurl(benchmark::State& state, bool https) {
    auto& f = Shared();
    const std::string url = (https ? f.secureNginx : f.nginx)->url("/package.bin");
    const std::vector<std::string> component = {"/proc/self/exe", kChildFlag, url, f.dest.path(),
                                                "component.bin"};
    std::vector<std::string> curl = {"/usr/bin/curl", "-s", "-o", f.dest / "curl.bin", url};
    if (https) curl.insert(curl.begin() + 1, {"--cacert", f.certs.ca()});
    std::vector<double> componentTimes, curlTimes;
    double componentPeak = 0, curlPeak = 0;
    bool curlFirst = false;
    for (auto _ : state) {
        ChildRun a, b;
        bool ok = true;
        if (curlFirst) ok = Transfer(curl, f.dest / "curl.bin", b);
        ok = ok && Transfer(component, f.dest / "component.bin", a);
        if (!curlFirst) ok = ok && Transfer(curl, f.dest / "curl.bin", b);
        curlFirst = !curlFirst;
        if (!ok) {
            state.SkipWithError("download failed");
            break;
        }
        state.SetIterationTime(a.seconds);
        componentTimes.push_back(a.seconds);
        curlTimes.push_back(b.seconds);
        componentPeak = std::max(componentPeak, a.peakMiB);
        curlPeak = std::max(curlPeak, b.peakMiB);
    }
    const double componentMs = Median(componentTimes) * 1000, curlMs = Median(curlTimes) * 1000;
    state.counters["component_ms"] = componentMs;
    state.counters["curl_ms"] = curlMs;
    state.counters["time_ratio"] = curlMs > 0 ? componentMs / curlMs : 0;
    state.counters["component_peak_MiB"] = componentPeak;
    state.counters["curl_peak_MiB"] = curlPeak;
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

BENCHMARK_CAPTURE(BM_ComponentVsCurl, http, false)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK_CAPTURE(BM_ComponentVsCurl, https, true)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

// The child: one transfer with the component, as the agent makes it.
int ComponentDownload(const std::string& url, const std::string& folder, const std::string& name) {
    download::TDownloader d;
    d.SetProtocolo(download::protHTTP);
    d.SetDownloadDest(folder);
    d.SetDownloadUrl(url);
    d.SetDownloadNomeArq(name);
    d.StartDownload();
    return testsupport::PathExists(folder + "/" + name) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == kChildFlag)
        return ComponentDownload(argv[2], argv[3], argv[4]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// MD5Arquivo on a 256 MiB file against `openssl md5` and `md5sum` on the same file.
// Prints the three throughputs and the ratio to openssl at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

#include "agent/uTravikVersoes.h"
#include "testsupport/testsupport.h"

namespace {

constexpr std::size_t kFileSize = 256u << 20;
std::string gPath;
std::map<std::string, double> gBestMiBps;
std::map<std::string, std::string> gDigest;

void Record(const std::string& name, double seconds) {
    const double mibps = static_cast<double>(kFileSize) / (1 << 20) / seconds;
    if (mibps > gBestMiBps[name]) gBestMiBps[name] = mibps;
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

void BM_MD5Arquivo(benchmark::State& state) {
    platform::Application app;
    agent::TfTravikVersoes form(app);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::string digest = form.MD5Arquivo(gPath);
        Record("MD5Arquivo",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        gDigest["MD5Arquivo"] = digest;
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}

void RunTool(benchmark::State& state, const std::string& name, std::vector<std::string> argv,
             std::size_t digestAt) {
    for (auto _ : state) {
        const auto result = testsupport::Run({.argv = argv});
        if (result.exitStatus != 0) {
            state.SkipWithError((name + " failed: " + result.err).c_str());
            return;
        }
        Record(name, std::chrono::duration<double>(result.elapsed).count());
        gDigest[name] = Upper(result.out.substr(digestAt, 32));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}

void BM_OpensslMd5(benchmark::State& state) {
    // "openssl md5 -r" prints "<digest> *<file>".
    RunTool(state, "openssl md5", {"openssl", "md5", "-r", gPath}, 0);
}

void BM_Md5sum(benchmark::State& state) {
    RunTool(state, "md5sum", {"md5sum", "-b", gPath}, 0);
}

}  // namespace

int main(int argc, char** argv) {
    testsupport::TempDir dir("travik-bench");
    gPath = dir / "package.bin";
    {
        std::string block(1 << 20, '\0');
        std::uint32_t x = 12345;
        for (auto& c : block) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 16);
        }
        std::FILE* f = std::fopen(gPath.c_str(), "wb");
        for (std::size_t i = 0; i < kFileSize / block.size(); ++i) {
            block[i % block.size()] ^= static_cast<char>(i);
            std::fwrite(block.data(), 1, block.size(), f);
        }
        std::fclose(f);
    }
    benchmark::Initialize(&argc, argv);
    for (auto* b : {benchmark::RegisterBenchmark("MD5Arquivo", BM_MD5Arquivo),
                    benchmark::RegisterBenchmark("openssl md5", BM_OpensslMd5),
                    benchmark::RegisterBenchmark("md5sum", BM_Md5sum)})
        b->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nThroughput on a %zu MiB file (best of the runs):\n", kFileSize >> 20);
    for (const auto& [name, mibps] : gBestMiBps)
        std::printf("  %-12s %8.1f MiB/s  digest %s\n", name.c_str(), mibps, gDigest[name].c_str());
    if (gBestMiBps.count("openssl md5") && gBestMiBps["openssl md5"] > 0)
        std::printf("  MD5Arquivo / openssl md5 = %.2f\n",
                    gBestMiBps["MD5Arquivo"] / gBestMiBps["openssl md5"]);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("  peak resident memory of this process: %ld KiB (the file is %zu KiB)\n",
                usage.ru_maxrss, kFileSize >> 10);
    const bool same = gDigest["MD5Arquivo"] == gDigest["openssl md5"] &&
                      gDigest["MD5Arquivo"] == gDigest["md5sum"];
    std::printf("  digests %s\n", same ? "agree" : "DIFFER");
    return same ? 0 : 1;
}

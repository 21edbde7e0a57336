// THTTPClient fetching a 512 MiB file from a local nginx into a file, taking the body out
// of Document as it arrives (as the download worker does), against `curl -o` on the same
// file. Prints the throughputs, the ratio to curl and the largest Document seen.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "download/HttpClient.h"
#include "platform/fs.h"
#include "testsupport/testsupport.h"

namespace {

constexpr std::int64_t kFileSize = 512ll << 20;
std::unique_ptr<testsupport::NginxServer> gServer;
std::string gUrl;
std::string gOut;
std::map<std::string, double> gBestMiBps;
std::int64_t gLargestDocument = 0;

void Record(const std::string& name, double seconds) {
    const double mibps = static_cast<double>(kFileSize) / (1 << 20) / seconds;
    gBestMiBps[name] = std::max(gBestMiBps[name], mibps);
}

void BM_THTTPClient(benchmark::State& state) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        platform::fs::FileStream file(gOut, platform::fs::OpenMode::Create,
                                      platform::fs::ShareMode::Exclusive);
        download::THTTPClient http;
        const auto take = [&] {
            auto& doc = http.Document();
            gLargestDocument = std::max(gLargestDocument, doc.Size());
            if (doc.Size() > 0) file.Write(doc.Bytes().data(), doc.Bytes().size());
            doc.Clear();
        };
        http.Sock().OnMonitor = [&](download::TBlockingSocket&, bool writing, const void*,
                                    std::int32_t) {
            if (!writing) take();
        };
        http.Sock().OnStatus = [&](download::TBlockingSocket&, download::TSocketHookReason r,
                                   const std::string&) {
            if (r == download::hrSocketClose && http.ResultCode() == 200) take();
        };
        if (!http.HTTPMethod("GET", gUrl) || file.Size() != kFileSize) {
            state.SkipWithError("transfer failed");
            return;
        }
        Record("THTTPClient",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_Curl(benchmark::State& state) {
    for (auto _ : state) {
        const auto result = testsupport::Run({.argv = {"curl", "-s", "-o", gOut, gUrl}});
        if (result.exitStatus != 0) {
            state.SkipWithError(("curl failed: " + result.err).c_str());
            return;
        }
        Record("curl -o", std::chrono::duration<double>(result.elapsed).count());
    }
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

}  // namespace

int main(int argc, char** argv) {
    testsupport::TempDir dir("travik-bench-http");
    const std::string root = dir / "www";
    testsupport::Run({.argv = {"mkdir", "-p", root}});
    {
        std::string block(1 << 20, '\0');
        std::uint32_t x = 4711;
        for (auto& c : block) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 16);
        }
        std::FILE* f = std::fopen((root + "/package.bin").c_str(), "wb");
        for (std::int64_t i = 0; i < kFileSize / static_cast<std::int64_t>(block.size()); ++i) {
            block[static_cast<std::size_t>(i) % block.size()] ^= static_cast<char>(i);
            std::fwrite(block.data(), 1, block.size(), f);
        }
        std::fclose(f);
    }
    gServer = std::make_unique<testsupport::NginxServer>(root);
    gUrl = gServer->url("/package.bin");
    gOut = dir / "download.bin";

    benchmark::Initialize(&argc, argv);
    for (auto* b : {benchmark::RegisterBenchmark("THTTPClient", BM_THTTPClient),
                    benchmark::RegisterBenchmark("curl -o", BM_Curl)})
        b->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nThroughput on a %lld MiB file (best of the runs):\n",
                static_cast<long long>(kFileSize >> 20));
    for (const auto& [name, mibps] : gBestMiBps)
        std::printf("  %-12s %8.1f MiB/s\n", name.c_str(), mibps);
    if (gBestMiBps["curl -o"] > 0)
        std::printf("  THTTPClient time / curl time = %.2f\n",
                    gBestMiBps["curl -o"] / gBestMiBps["THTTPClient"]);
    std::printf("  largest Document held: %lld bytes\n", static_cast<long long>(gLargestDocument));
    gServer.reset();
    return 0;
}

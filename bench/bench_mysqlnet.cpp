// The packet layer reading a result of 1,000,000 rows of six columns (integers, a text,
// a date-time, a nullable decimal) from a local MariaDB, with the compressed protocol
// off and on; and SHA-1 throughput. Rows are read as packets, not stored: this measures
// what the layers under the session cost.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "dbclient/MysqlNet.h"
#include "dbclient/NetTestSession.h"
#include "crypto/Sha1.h"
#include "testsupport/testsupport.h"

namespace {

std::unique_ptr<testsupport::MariaDbServer> gServer;

void BM_ReadMillionRows(benchmark::State& state) {
    const bool compress = state.range(0) != 0;
    dbclient::TMysqlNet net;
    nettest::LoginOptions options;
    options.compress = compress;
    if (const std::string error = nettest::Login(net, gServer->port(), options); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::int64_t rows = 0, bytes = 0;
    long biggestBuffer = 0;
    for (auto _ : state) {
        net.net_clear();
        if (net.net_write_command(3, bench::kMillionRowSelect) != 0) {
            state.SkipWithError("send failed");
            return;
        }
        int endPackets = 0;
        std::int64_t counted = 0;
        while (endPackets < 2) {
            const long len = net.net_safe_read(nettest::kClientFlags);
            if (len < 0) {
                state.SkipWithError(net.last_error().c_str());
                return;
            }
            bytes += len;
            if (static_cast<unsigned char>(net.read_pos()[0]) == 0xFE && len < 8)
                ++endPackets;
            else if (endPackets == 1)
                ++counted;
        }
        rows += counted;
        biggestBuffer = std::max(biggestBuffer, net.max_packet());
        net.net_pack();
    }
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.counters["payload_MiB/s"] =
        benchmark::Counter(static_cast<double>(bytes) / (1 << 20), benchmark::Counter::kIsRate);
    state.counters["buffer_KiB"] = static_cast<double>(biggestBuffer) / 1024;
    state.counters["peak_rss_MiB"] = static_cast<double>(bench::StatusKiB("VmHWM")) / 1024;
}
BENCHMARK(BM_ReadMillionRows)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("compress")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_Sha1(benchmark::State& state) {
    const std::string data(static_cast<std::size_t>(state.range(0)), 'x');
    for (auto _ : state) benchmark::DoNotOptimize(crypto::Sha1(data));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Sha1)->Arg(64)->Arg(1 << 20);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    gServer = std::make_unique<testsupport::MariaDbServer>(
        testsupport::MariaDbServer::Options{.generalLog = false});
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gServer.reset();
    return 0;
}

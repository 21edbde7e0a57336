// The client session reading a SELECT of 1,000,000 rows of six columns (integers, a
// VARCHAR(64), a DATETIME, a nullable DECIMAL) from a local MariaDB into a stored
// result, with the compressed protocol off and on; and the same rows read as a used
// result, for comparison. Reports wall time, rows per second and the peak memory the
// result added to the process.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "dbclient/MysqlClient.h"
#include "testsupport/testsupport.h"

namespace {

constexpr const char* kSelect = "SELECT id, a, b, name, created, price FROM bench.t";

std::unique_ptr<testsupport::MariaDbServer> gServer;

// Resets the process's peak resident size to its current size.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_Select(benchmark::State& state) {
    const bool compress = state.range(0) != 0;
    const bool store = state.range(1) != 0;
    dbclient::TMysqlClient client;
    client.SetCompress(compress);
    if (!client.connect("127.0.0.1", "admin", "admin", "bench", gServer->port(), "", true,
                        compress ? 0x30020 : 0x30000)) {
        state.SkipWithError(client.LastError().c_str());
        return;
    }
    std::int64_t rows = 0;
    double peakMiB = 0;
    for (auto _ : state) {
        const long before = bench::StatusKiB("VmRSS");
        ResetPeak();
        bool ok = false;
        auto result = client.query(kSelect, store, ok);
        if (!ok || !result) {
            state.SkipWithError(client.LastError().c_str());
            return;
        }
        if (store) {
            rows += result->RowsCount();
        } else {
            while (!result->Eof()) result->Next();
            rows += result->RowsCount();
        }
        peakMiB = std::max(peakMiB, static_cast<double>(bench::StatusKiB("VmHWM") - before) / 1024);
    }
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.counters["peak_delta_MiB"] = peakMiB;
}
BENCHMARK(BM_Select)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Args({1, 0})
    ->ArgNames({"compress", "stored"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The server answers while its start-up statements still fill the table.
bool WaitForRows() {
    dbclient::TMysqlClient client;
    for (int attempt = 0; attempt < 240; ++attempt) {
        bool ok = false;
        if (client.connect("127.0.0.1", "admin", "admin", "", gServer->port(), "", true, 0x30000)) {
            auto r = client.query("SELECT COUNT(*) FROM bench.t", true, ok);
            if (ok && r && r->FieldValue(0) && std::string(r->FieldValue(0)) == "1000000")
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    std::fprintf(stderr, "the benchmark table was not filled\n");
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    gServer = std::make_unique<testsupport::MariaDbServer>(testsupport::MariaDbServer::Options{
        .extraArgs = {"--innodb-buffer-pool-size=256M"},
        .initSql = "CREATE DATABASE bench;\n"
                   "CREATE TABLE bench.t (id INT PRIMARY KEY, a INT NOT NULL, b BIGINT NOT NULL,"
                   " name VARCHAR(64) NOT NULL, created DATETIME NOT NULL, price DECIMAL(12,2) "
                   "NULL) ENGINE=InnoDB;\n"
                   "INSERT INTO bench.t SELECT seq, seq * 3, seq * 1000003, CONCAT('item-', seq, "
                   "'-', REPEAT('v', 40)),"
                   " TIMESTAMP'2026-01-01 00:00:00' + INTERVAL seq SECOND,"
                   " IF(seq % 7 = 0, NULL, seq / 100) FROM bench.seq_1_to_1000000;\n",
        .generalLog = false,
    });
    if (!WaitForRows()) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gServer.reset();
    return 0;
}

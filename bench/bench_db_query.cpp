// The query component over a result of 1,000,000 rows of six columns (integers, a text,
// a date-time, a nullable decimal) from a local MariaDB: Open (statement, stored result,
// index metadata, fields) and a walk over every record reading each field as text.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbQuery.h"
#include "testsupport/testsupport.h"

namespace {

std::unique_ptr<testsupport::MariaDbServer> gServer;

std::unique_ptr<dbclient::TDbConnection> Connection(bool compress) {
    auto c = std::make_unique<dbclient::TDbConnection>();
    c->SetHost("127.0.0.1");
    c->SetPortNumber(static_cast<std::uint32_t>(gServer->port()));
    c->SetUserName(testsupport::MariaDbServer::kAdminUser);
    c->SetUserPassword(testsupport::MariaDbServer::kAdminPassword);
    c->SetConnectOptions(compress ? dbclient::TConnectOptions{dbclient::coCompress}
                                  : dbclient::TConnectOptions{});
    c->SetConnected(true);
    return c;
}

void BM_OpenMillionRows(benchmark::State& state) {
    auto c = Connection(state.range(0) != 0);
    dbclient::TDbQuery q;
    q.SetDatabase(c.get());
    q.SQL().Add(bench::kMillionRowSelect);
    std::int64_t rows = 0;
    for (auto _ : state) {
        q.Open();
        rows += q.RecordCount();
        state.PauseTiming();
        q.Close();
        state.ResumeTiming();
    }
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.counters["peak_rss_MiB"] = static_cast<double>(bench::StatusKiB("VmHWM")) / 1024;
}
BENCHMARK(BM_OpenMillionRows)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("compress")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_WalkMillionRowsAsText(benchmark::State& state) {
    auto c = Connection(false);
    dbclient::TDbQuery q;
    q.SetDatabase(c.get());
    q.SQL().Add(bench::kMillionRowSelect);
    q.Open();
    std::int64_t rows = 0, bytes = 0;
    for (auto _ : state) {
        for (q.First(); !q.Eof(); q.Next()) {
            for (int i = 0; i < q.FieldCount(); ++i)
                bytes += static_cast<std::int64_t>(q.Fields()[i].AsString().size());
            ++rows;
        }
    }
    benchmark::DoNotOptimize(bytes);
    state.counters["rows/s"] =
        benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.counters["peak_rss_MiB"] = static_cast<double>(bench::StatusKiB("VmHWM")) / 1024;
}
BENCHMARK(BM_WalkMillionRowsAsText)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

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

// Foundation benchmarks. Run: build/bin/velanto_bench
// The run is sandboxed: logging settings and log files live in a temporary folder.
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string gSandbox;

void BM_LogRecordOff(benchmark::State& state) {
    stopLog();
    for (auto _ : state)
        logNormal("Execute setting: ", "KestovaQvCAPI");
}
BENCHMARK(BM_LogRecordOff);

void BM_LogRecordOn(benchmark::State& state) {
    stopLog();
    if (!setLog("KestovaQvCAPIVelanto")) {
        state.SkipWithError("logging did not switch on");
        return;
    }
    for (auto _ : state)
        logNormal("Execute setting: ", "KestovaQvCAPI");
    stopLog();
}
BENCHMARK(BM_LogRecordOn);

void BM_CompareVersion(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(compareVersion("1.0.23.0510", "1.0.23.511"));
}
BENCHMARK(BM_CompareVersion);

} // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/velanto-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    gSandbox = pattern;
    fs::create_directories(gSandbox + "/root/etc");
    fs::create_directories(gSandbox + "/tmp");
    setenv("VELANTO_ROOT", (gSandbox + "/root").c_str(), 1);
    setenv("TMPDIR", (gSandbox + "/tmp").c_str(), 1);
    std::ofstream(gSandbox + "/root/etc/KestovaQvCAPIVelanto.ini")
        << "[KestovaQvCAPIVelanto]\nLog File=" << gSandbox << "/bench.log\nLog Level=5\n";

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(gSandbox);
    return 0;
}

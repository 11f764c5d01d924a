// The dispatcher: opening a session (copy + load + component creation + unlock + version)
// and an echo on an open session. Run: build/bin/velanto_session_bench
#include "BenchSandbox.h"
#include "VelantoSession/VelantoSession.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/platform/Platform.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

JsonMap* request(std::initializer_list<std::pair<const char*, const char*>> members) {
    JsonMap* map = newJsonMap();
    for (const auto& [key, value] : members)
        setJsonMapValue(map, key, value);
    return map;
}

void BM_OpenAndReleaseSession(benchmark::State& state) {
    JsonMap* open = request({{"FunctionName", "VelantoEcho"},
                             {"SessionId", "BENCHMRK_SID"},
                             {"PathID", "5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D"},
                             {"minServerVersion", "1.0.23.0510"}});
    JsonMap* release =
        request({{"FunctionName", "VelantoForceRelease"}, {"SessionId", "BENCHMRK_SID"}});
    for (auto _ : state) {
        freeJsonMap(dispatchRequest(open, "https://localhost", 0));
        state.PauseTiming();
        freeJsonMap(dispatchRequest(release, "https://localhost", 0));
        state.ResumeTiming();
    }
    freeJsonMap(open);
    freeJsonMap(release);
}
BENCHMARK(BM_OpenAndReleaseSession)->Unit(benchmark::kMicrosecond);

void BM_EchoOnOpenSession(benchmark::State& state) {
    JsonMap* open = request({{"FunctionName", "VelantoEcho"},
                             {"SessionId", "ECHOBNCH_SID"},
                             {"PathID", "5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D"},
                             {"minServerVersion", "1.0.23.0510"}});
    freeJsonMap(dispatchRequest(open, "https://localhost", 0));
    JsonMap* echo = request({{"FunctionName", "VelantoEcho"}, {"SessionId", "ECHOBNCH_SID"}});
    for (auto _ : state)
        freeJsonMap(dispatchRequest(echo, "https://localhost", 0));
    freeJsonMap(echo);
    freeJsonMap(open);
    releaseAllSessions();
}
BENCHMARK(BM_EchoOnOpenSession);

} // namespace

int main(int argc, char** argv) {
    BenchSandbox sandbox;
    initSessionModule((sandbox.root + "/data/KestovaQvCAPIVelanto").c_str(),
                      (sandbox.root + "/program").c_str());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    releaseAllSessions();
    return 0;
}

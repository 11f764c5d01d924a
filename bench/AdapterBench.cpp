// One call through the adapter's map entry point on an initialised adapter, against the
// reference component. Run: build/bin/velanto_adapter_bench
#include "AdapterProject/AdapterProject.h"
#include "Component/SigningComponent.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/platform/Platform.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

CallJsonMapMethodFunction callJsonMapMethod = nullptr;

void BM_AdapterPropertyGet(benchmark::State& state) {
    JsonMap* map = newJsonMap();
    setJsonMapValue(map, "FunctionName", "GetHashAlgorithm");
    setJsonMapValue(map, "VelantoFunctionIndex", "81");
    callJsonMapMethod(map, "GetHashAlgorithm"); // initialises the adapter
    for (auto _ : state)
        benchmark::DoNotOptimize(callJsonMapMethod(map, "GetHashAlgorithm"));
    freeJsonMap(map);
}
BENCHMARK(BM_AdapterPropertyGet);

void BM_AdapterNameModeCall(benchmark::State& state) {
    JsonMap* map = newJsonMap();
    setJsonMapValue(map, "FunctionName", "Qv_GETVersion");
    setJsonMapValue(map, "flag", "0");
    callJsonMapMethod(map, "Qv_GETVersion");
    for (auto _ : state)
        benchmark::DoNotOptimize(callJsonMapMethod(map, "Qv_GETVersion"));
    freeJsonMap(map);
}
BENCHMARK(BM_AdapterNameModeCall);

} // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/velanto-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    const std::string sandbox = pattern;
    setenv("VELANTO_ROOT", sandbox.c_str(), 1);
    setenv("TMPDIR", sandbox.c_str(), 1);
    std::string self;
    platform::programPath(self);
    const std::string lib = fs::path(self).parent_path().parent_path().string() + "/lib";
    const std::string registered = "/opt/KestovaQvCAPIVelanto/Component/KestovaSigningComponent.so";
    fs::create_directories(fs::path(sandbox + registered).parent_path());
    fs::copy_file(lib + "/KestovaSigningComponent.so", sandbox + registered);
    registerInprocServer(CLSID_SigningComponent, registered);
    void* adapter = platform::loadLibrary(lib + "/KestovaCAPIATLAdapter.so");
    callJsonMapMethod = reinterpret_cast<CallJsonMapMethodFunction>(
        platform::findSymbol(adapter, "callJsonMapMethod"));
    if (!callJsonMapMethod) return 3;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(sandbox);
    return 0;
}

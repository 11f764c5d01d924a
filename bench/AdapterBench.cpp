// One call through the adapter's map entry point on an initialised adapter, against the
// reference component. Run: build/bin/velanto_adapter_bench
#include "AdapterProject/AdapterProject.h"
#include "BenchSandbox.h"
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
    BenchSandbox sandbox;
    void* adapter =
        platform::loadLibrary(sandbox.root + "/program/Kestova/KestovaCAPIATLAdapter.so");
    callJsonMapMethod = reinterpret_cast<CallJsonMapMethodFunction>(
        platform::findSymbol(adapter, "callJsonMapMethod"));
    if (!callJsonMapMethod) return 3;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

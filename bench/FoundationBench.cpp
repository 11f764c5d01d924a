// Foundation benchmarks. Run: build/bin/velanto_bench
// The run is sandboxed: logging settings and log files live in a temporary folder.
#include "VelantoUtil/AES.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Message.h"
#include "VelantoUtil/platform/Platform.h"
#include "VelantoUtil/Tool.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
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

// A typical call: function, session, index and a handful of parameters.
const char kTypicalCall[] =
    "{\"FunctionName\":\"QvCAPICertGetSubject\",\"SessionID\":\"AB12CD34_SID\","
    "\"VelantoFunctionIndex\":\"5\",\"PathID\":\"1\",\"minServerVersion\":\"1.0.23.0510\","
    "\"minLibVersion\":\"1,0,20,521\",\"strCert\":\"MIIBszCCAV2gAwIBAgIUQ2VydGlmaWNhdGU=\","
    "\"strCert_VelantoBase64Flag\":\"false\",\"nFlags\":0,\"bDetached\":true}";

void BM_JsonParseAndSerialise(benchmark::State& state) {
    for (auto _ : state) {
        JsonMap* map = parseJsonMap(kTypicalCall);
        char* text = jsonMapToText(map);
        benchmark::DoNotOptimize(text);
        std::free(text);
        freeJsonMap(map);
    }
}
BENCHMARK(BM_JsonParseAndSerialise);

void BM_JsonLookup(benchmark::State& state) {
    JsonMap* map = parseJsonMap(kTypicalCall);
    for (auto _ : state) {
        char* value = BinarySearchVelantoJsonMap(map, "sessionid", 0, map->count - 1);
        benchmark::DoNotOptimize(value);
        std::free(value);
    }
    freeJsonMap(map);
}
BENCHMARK(BM_JsonLookup);

void BM_AesRoundTrip1KiB(benchmark::State& state) {
    unsigned char key[32], vector[32];
    genRandom(key, sizeof(key));
    genRandom(vector, sizeof(vector));
    setValueStoreCipher(key, vector);
    const std::string text(1024, 'v');
    for (auto _ : state) {
        std::size_t length = 0;
        unsigned char* cipher = aesCbcEncrypt(text.c_str(), &length);
        char* plain = aesCbcDecrypt(cipher, length, valueStoreKey(), valueStoreVector());
        benchmark::DoNotOptimize(plain);
        std::free(plain);
        std::free(cipher);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024);
}
BENCHMARK(BM_AesRoundTrip1KiB);

std::atomic<int> started{0};
void onStart() {
    ++started;
}

// An instruction to a live receiver (here in this process): the window half's round trip
// plus the lock-mode half, which holds its mutex for about 100 ms by design.
void BM_SendInstruction(benchmark::State& state) {
    static bool receiving = [] {
        startFunction = onStart;
        startMessageReceiver("BenchChannel");
        return true;
    }();
    benchmark::DoNotOptimize(receiving);
    for (auto _ : state)
        sendInstruction("BenchChannel", kInstructionStart);
}
BENCHMARK(BM_SendInstruction)->Unit(benchmark::kMillisecond)->UseRealTime();

// The window half alone: one sealed envelope delivered, verified, acted on and acknowledged.
void BM_ChannelRoundTrip(benchmark::State& state) {
    for (auto _ : state) {
        VelantoMessage* message = buildMessage("Bench", "BenchChannel", kInstructionStart);
        char* envelope = formatEnvelope(message);
        platform::sendChannelFrame("BenchChannel", platform::kChannelMessage,
                                   std::string(envelope, std::strlen(envelope) + 1));
        std::free(envelope);
        freeMessage(message);
    }
}
BENCHMARK(BM_ChannelRoundTrip)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/velanto-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    gSandbox = pattern;
    fs::create_directories(gSandbox + "/root/etc");
    fs::create_directories(gSandbox + "/tmp");
    setenv("VELANTO_ROOT", (gSandbox + "/root").c_str(), 1);
    setenv("TMPDIR", (gSandbox + "/tmp").c_str(), 1);
    fs::create_directories(gSandbox + "/run");
    setenv("XDG_RUNTIME_DIR", (gSandbox + "/run").c_str(), 1);
    std::ofstream(gSandbox + "/root/etc/KestovaQvCAPIVelanto.ini")
        << "[KestovaQvCAPIVelanto]\nLog File=" << gSandbox << "/bench.log\nLog Level=5\n";

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(gSandbox);
    return 0;
}

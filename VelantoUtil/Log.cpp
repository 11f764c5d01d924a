#include "VelantoUtil/Log.h"

#include "VelantoUtil/Tool.h"
#include "VelantoUtil/ZmLog.h"
#include "VelantoUtil/platform/Platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kSettingsName[] = "KestovaQvCAPIVelanto";

std::atomic<unsigned char> logEnabled{0};
char logPrefix[64];

void record(const char* levelWord, const char* key, const char* value) {
    if (!logEnabled.load(std::memory_order_relaxed)) return;
    if (!key) key = "";
    if (!value) value = "";
    int size = std::snprintf(nullptr, 0, "[%s]%s %s", logPrefix, levelWord, key);
    char* head =
        size >= 0 ? static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1)) : nullptr;
    if (!head) {
        // Reported without a heap buffer, which is what just failed.
        ZmLogPrint(5, nullptr, "[%s][Error] Memory allocate fail at file: %s", logPrefix,
                   velantoSourceName(__FILE__));
        ZmLogPrint(5, nullptr, "[%s][Error] Memory allocate fail at line: %d", logPrefix, __LINE__);
        return;
    }
    std::snprintf(head, static_cast<size_t>(size) + 1, "[%s]%s %s", logPrefix, levelWord, key);
    ZmLogPrint(5, nullptr, "%s%s", head, value);
    std::free(head);
}

void recordInt(const char* levelWord, const char* key, int value) {
    if (!logEnabled.load(std::memory_order_relaxed)) return;
    char text[16];
    std::snprintf(text, sizeof(text), "%d", value);
    record(levelWord, key, text);
}

} // namespace

bool setLog(const char* inputPrefixName) {
    if (logEnabled.load()) return true;
    if (!inputPrefixName) {
        REPORT_NULL("inputPrefixName");
        return false;
    }
    std::snprintf(logPrefix, sizeof(logPrefix), "%s", inputPrefixName);

    char fileName[64];
    std::snprintf(fileName, sizeof(fileName), "%s.ini", kSettingsName);
    const std::string sep(1, platform::pathSeparator());
    std::string candidates[3];
    std::string dir;
    if (platform::programPath(dir)) candidates[0] = dir.substr(0, dir.rfind(sep)) + sep + fileName;
    candidates[1] = platform::windowsDir() + sep + fileName;
    if (platform::userTempDir(dir)) {
        if (dir.empty() || !platform::isPathSeparator(dir.back())) dir += sep;
        candidates[2] = dir + fileName;
    }
    std::string settings = fileName;
    for (const auto& candidate : candidates) {
        if (!candidate.empty() && isFileExist(candidate.c_str())) {
            settings = candidate;
            break;
        }
    }
    int rc = ZmLogInit(settings.c_str());
    ZmLogPrint(5, nullptr, "%s %d %s Compile Time : %s %s", velantoSourceName(__FILE__), __LINE__,
               "setLog", __DATE__, __TIME__);
    bool on = rc == 0;
    logEnabled.exchange(on ? 1 : 0);
    if (on) logNormal("Log state: ", "Enable");
    return on;
}

void stopLog() {
    logEnabled.exchange(0);
    ZmLogStop();
}

bool isLogEnabled() {
    return logEnabled.load(std::memory_order_relaxed) != 0;
}

void logNormal(const char* key, const char* value) {
    record("[Normal]", key, value);
}
void logWarning(const char* key, const char* value) {
    record("[Warning]", key, value);
}
void logError(const char* key, const char* value) {
    record("[Error]", key, value);
}
void logNormalInt(const char* key, int value) {
    recordInt("[Normal]", key, value);
}
void logWarningInt(const char* key, int value) {
    recordInt("[Warning]", key, value);
}
void logErrorInt(const char* key, int value) {
    recordInt("[Error]", key, value);
}

void logNormalWide(const char* key, const wchar_t* value) {
    if (!logEnabled.load(std::memory_order_relaxed)) return;
    char* text = wideToNarrow(value);
    record("[Normal]", key, text);
    std::free(text);
}

void reportNullParameter(const char* name, const char* sourceFile, int line) {
    if (!logEnabled.load(std::memory_order_relaxed)) return;
    char text[256];
    std::snprintf(text, sizeof(text), "Parameter %s is null at %s %d", name ? name : "",
                  sourceFile ? sourceFile : "", line);
    logWarning(text, nullptr);
}

void reportAllocFailure(const char* sourceFile, int line) {
    logError("Memory allocate fail at file: ", sourceFile);
    logErrorInt("Memory allocate fail at line: ", line);
}

#include "VelantoSession/VelantoSession.h"

#include "VelantoSession/VelantoValue.h"
#include "VelantoUtil/AES.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <utility>

namespace {

SessionSlot sessionTable[kSessionSlots];
std::uint64_t slotSequence[kSessionSlots];
std::uint64_t openSequence = 0;
constexpr std::uint64_t kFreeSequence = ~0ULL;

std::string copyRoot;
std::string executePath;

const AdapterPathRow kAdapterPaths[] = {
    {"5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D", "Kestova", "KestovaCAPIATLAdapter"},
    {"E7C3A9F1B5D2084C6E1A3F7B9D0C2E48", "Kestova", "QvCAPIATL2Adapter"},
};

std::string sep() {
    return std::string(1, platform::pathSeparator());
}

std::string tempFolder() {
    return copyRoot + sep() + "Tempfile";
}

std::string slotFolder(int slot) {
    return tempFolder() + sep() + "Session_" + std::to_string(slot);
}

std::string copyOf(int slot, const std::string& name) {
    return slotFolder(slot) + sep() + name + platform::librarySuffix();
}

void logPathCompare(const char* outcome, const AdapterPathRow& row, bool warning) {
    auto log = warning ? logWarning : logNormal;
    log("Path table compare: ", outcome);
    log("Lib: ", row.libDir);
    log("Component: ", row.comName);
}

void logExistence(const char* key, const std::string& path) {
    if (isFileExist(path.c_str()))
        logNormal(key, "Exist");
    else
        logError(key, "Not Exist");
}

} // namespace

void initSessionModule(const char* copyPath, const char* execute) {
    setLog("VelantoSession");
    for (int i = 0; i < kSessionSlots; ++i) {
        sessionTable[i] = SessionSlot{};
        slotSequence[i] = kFreeSequence;
    }
    copyRoot = copyPath ? copyPath : "";
    executePath = execute ? execute : "";
    // The whole path, so a data folder whose parent is missing still works.
    for (std::size_t i = 1; i <= copyRoot.size(); ++i)
        if (i == copyRoot.size() || platform::isPathSeparator(copyRoot[i]))
            platform::makeDirectory(copyRoot.substr(0, i));

    unsigned char key[32] = {}, vector[32] = {};
    genRandom(key, sizeof(key));
    genRandom(vector, sizeof(vector));
    setValueStoreCipher(key, vector);
    secureZero(key, sizeof(key));
    secureZero(vector, sizeof(vector));
    clearValueStore();

    const std::string versionFile = copyRoot + sep() + kVersionFileName;
    if (!isFileExist(versionFile.c_str())) platform::writeTextFile(versionFile, "", false);
    if (copyRoot.empty() ||
        !platform::writeTextFile(versionFile, std::string("Velanto version=") + kServerVersion,
                                 false))
        logWarning("Write Velanto version: ", "Fail");

    platform::removeTree(tempFolder());
    platform::makeDirectory(tempFolder());
    for (int i = 0; i < kSessionSlots; ++i)
        platform::makeDirectory(slotFolder(i));
}

int findSession(const char* identifier) {
    if (!identifier) return -1;
    for (int i = 0; i < kSessionSlots; ++i) {
        const char* id = sessionTable[i].sessionId;
        if (id && *id && std::strstr(identifier, id)) return i;
    }
    return -1;
}

char* generateSessionId() {
    for (;;) {
        char* id = genSessionId();
        if (!id) return nullptr;
        int collision = -1;
        for (int i = 0; i < kSessionSlots && collision < 0; ++i)
            if (sessionTable[i].sessionId && std::strcmp(sessionTable[i].sessionId, id) == 0)
                collision = i;
        if (collision < 0) return id;
        logNormalInt("Session id collision index: ", collision);
        std::free(id);
    }
}

char* sanitizeName(char* buffer, std::size_t size) {
    if (!buffer || size == 0) return buffer;
    static const char kRefused[] = "<>:\"/\\|?*;&$";
    std::size_t length = strnlen(buffer, size);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < length; ++i)
        if (!std::strchr(kRefused, buffer[i])) buffer[kept++] = buffer[i];
    std::memset(buffer + kept, 0, length - kept);
    if (std::strcmp(buffer, "..") == 0) std::memset(buffer, 0, 2);
    return buffer;
}

bool resolveAdapterPath(const char* pathId, const char* libDir, const char* comName,
                        std::string& folder, std::string& name) {
    folder = libDir ? libDir : "";
    name = comName ? comName : "";
    logNormal("Adapter folder: ", folder.c_str());
    logNormal("Adapter name: ", name.c_str());
    if (pathId && *pathId) {
        logNormal("Path id mode: ", "Active");
        for (const auto& row : kAdapterPaths) {
            if (strcasecmp(row.pathId, pathId) == 0) {
                folder = row.libDir;
                name = row.comName;
                break;
            }
        }
    } else {
        logNormal("Path id check location mode: ", "Active");
        bool matched = false;
        for (const auto& row : kAdapterPaths) {
            if (strcasecmp(row.libDir, folder.c_str()) == 0 &&
                strcasecmp(row.comName, name.c_str()) == 0) {
                logPathCompare("Success", row, false);
                matched = true;
                break;
            }
            logPathCompare("Fail", row, true);
        }
        if (!matched) {
            logNormal("Out of path table connection: ", "Reject");
            return false;
        }
    }
    if (folder.empty() || name.empty()) {
        logNormal("No path information connection: ", "Reject");
        return false;
    }
    return true;
}

int acquireSlot() {
    int slot = -1;
    for (int i = 0; i < kSessionSlots && slot < 0; ++i)
        if (!sessionTable[i].sessionId || !*sessionTable[i].sessionId) slot = i;
    if (slot < 0) {
        logWarning("Velanto slot is full, release the oldest one", nullptr);
        slot = findOldestSession();
        if (slot < 0) {
            logWarning("Get the oldest SessionIndex fail", nullptr);
            return -1;
        }
        logNormalInt("Release session index: ", slot);
        releaseSession(slot);
    }
    slotSequence[slot] = openSequence++;
    logNormalInt("Session index: ", slot);
    return slot;
}

int loadAdapter(int slot, const std::string& folder, const std::string& name) {
    SessionSlot& s = sessionTable[slot];
    const std::string installed =
        executePath + sep() + folder + sep() + name + platform::librarySuffix();
    const std::string copy = copyOf(slot, name);
    logNormal("Original adapter: ", installed.c_str());
    logNormal("Copy adapter: ", copy.c_str());

    void* module = nullptr;
    std::string loadedPath;
    std::string reason;
    if (platform::copyFile(installed, copy, true)) {
        logNormal("Copy adapter state: ", "Success");
        module = platform::loadLibrary(copy, &reason);
        if (module) {
            logNormal("Copied adapter: ", "Active");
            loadedPath = copy;
        } else {
            logWarning("Copied adapter: ", "Inactive");
        }
    } else {
        logWarning("Copy adapter state: ", "Fail");
    }
    if (!module) {
        module = platform::loadLibrary(installed, &reason);
        if (module) {
            logNormal("Origin adapter: ", "Active");
            loadedPath = installed;
        }
    }
    if (!module) {
        logWarning("Origin adapter: ", "Inactive");
        if (isLogEnabled()) {
            logExistence("Origin adpater: ", installed);
            logExistence("Copied adpater: ", copy);
        }
        logError("Adapter load error reason: ", reason.c_str());
        releaseSession(slot);
        return kResultLoadFailed;
    }

    s.loadedPath = loadedPath;
    s.module = module;
    s.comName = dupString(name.c_str());
    s.callMethod = reinterpret_cast<CallMethodFunction>(platform::findSymbol(module, "callMethod"));
    s.callJsonMapMethod = reinterpret_cast<CallJsonMapMethodFunction>(
        platform::findSymbol(module, "callJsonMapMethod"));
    if (isLogEnabled()) {
        logNormal("Json string callMethod: ", s.callMethod ? "Active" : "Inactive");
        logNormal("Json map callMethod: ", s.callJsonMapMethod ? "Active" : "Inactive");
    }
    if (!s.callMethod && !s.callJsonMapMethod) {
        logWarning("All callMethod load fail", nullptr);
        releaseSession(slot);
        return kResultNoEntryPoint;
    }
    if (s.callJsonMapMethod)
        logNormal("Json map init: ", "Active");
    else
        logNormal("Json string init: ", "Active");
    return 0;
}

void releaseSession(int slot) {
    if (slot < 0 || slot >= kSessionSlots) return;
    SessionSlot& s = sessionTable[slot];
    if (!s.sessionId) {
        slotSequence[slot] = kFreeSequence;
        return;
    }
    s.browserMode = 0;
    for (auto [key, text] : {std::pair<const char*, char**>{"Release Session id: ", &s.sessionId},
                             {"Release AdapterName: ", &s.comName},
                             {"Release Adapter Version: ", &s.libVersion},
                             {"Release Installer Version: ", &s.installerVersion}}) {
        logNormal(key, *text);
        freeZeroed(*text);
        *text = nullptr;
    }

    if (s.callJsonMapMethod) {
        JsonMap* notice = newJsonMap();
        if (notice) {
            setJsonMapValue(notice, "functionname", "Velanto_Release");
            setJsonMapValue(notice, "AdapterJsonKeyCheck", "true");
            setJsonMapValue(notice, "VelantoFunctionIndex", "-3");
            s.callJsonMapMethod(notice, "Velanto_Release");
            freeJsonMap(notice);
        }
    }
    s.callMethod = nullptr;
    s.callJsonMapMethod = nullptr;
    s.openTime = 0;

    bool unloaded = true;
    if (!s.module) {
        logWarning("FreeLibrary: ", "NULL");
    } else if (!platform::freeLibrary(s.module)) {
        logWarning("Free library error code: ", "dlclose failed");
        unloaded = false;
    }
    s.module = nullptr;
    if (isLogEnabled()) {
        if (unloaded)
            logNormal("Release adapter state: ", "Success");
        else
            logWarning("Release adapter state: ", "Fail");
    }
    if (!s.loadedPath.empty() && s.loadedPath.rfind(slotFolder(slot) + sep(), 0) == 0) {
        const bool deleted = platform::deleteFile(s.loadedPath);
        if (isLogEnabled()) {
            if (deleted)
                logNormal("Delete adapter state: ", "Success");
            else
                logWarning("Delete adapter state: ", "Fail");
        }
    }
    s.loadedPath.clear();
    slotSequence[slot] = kFreeSequence;
}

int findOldestSession() {
    int oldest = -1;
    for (int i = 0; i < kSessionSlots; ++i)
        if (slotSequence[i] != kFreeSequence &&
            (oldest < 0 || slotSequence[i] < slotSequence[oldest]))
            oldest = i;
    return oldest;
}

void releaseAllSessions() {
    for (int i = findOldestSession(); i >= 0; i = findOldestSession()) {
        logNormalInt("Release session index: ", i);
        releaseSession(i);
    }
}

const SessionSlot& sessionSlot(int index) {
    return sessionTable[index];
}
std::uint64_t sessionSequence(int index) {
    return slotSequence[index];
}
const std::string& copyRootPath() {
    return copyRoot;
}

// The request dispatcher: identifies the caller's session, opens one when there is none,
// answers the built-in functions and forwards everything else to the session's adapter.
#include "VelantoSession/VelantoSession.h"

#include "VelantoSession/TopmostWindow.h"
#include "VelantoSession/VelantoValue.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/ZmLog.h"
#include "VelantoUtil/platform/Platform.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

namespace {

// A request text, decoded, cut to the given number of characters; empty when absent.
std::string readText(JsonMap* request, const char* key, std::size_t limit) {
    char* value = getJsonMapString(request, key);
    std::string text = value ? std::string(value).substr(0, limit) : std::string();
    freeZeroed(value);
    return text;
}

bool isName(const std::string& function, const char* name) {
    return strcasecmp(function.c_str(), name) == 0;
}

// The answer so far is dropped; a session opened by this call is released first.
JsonMap* reset(JsonMap* answer, int openedSlot, const char* result, int line) {
    if (openedSlot >= 0) {
        logNormalInt("Release session index: ", openedSlot);
        releaseSession(openedSlot);
    }
    freeJsonMap(answer);
    logNormal("reset Velanto Json at file: ", velantoSourceName(__FILE__));
    logNormalInt("reset Velanto Json at line: ", line);
    JsonMap* fresh = newJsonMap();
    if (fresh) setJsonMapValue(fresh, "result", result);
    return fresh;
}

JsonMap* resetCode(JsonMap* answer, int openedSlot, int code, int line) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d", code);
    return reset(answer, openedSlot, text, line);
}

JsonMap* builtInMap(const char* function, const char* index) {
    JsonMap* map = newJsonMap();
    if (!map) return nullptr;
    setJsonMapValue(map, "functionname", function);
    setJsonMapValue(map, "AdapterJsonKeyCheck", "true");
    setJsonMapValue(map, "VelantoFunctionIndex", index);
    return map;
}

// The minimum must be lower than or equal to the real version.
bool versionAccepted(const std::string& minimum, const char* real) {
    const int order = compareVersion(minimum.c_str(), real);
    return order == -1 || order == 0;
}

JsonMap* callAdapter(JsonMap* request, JsonMap* answer, int slot, const std::string& function,
                     int ownProcessId) {
    const SessionSlot& s = sessionSlot(slot);
    bool watching = false;
    if (getJsonMapBool(request, "topuidetect")) {
        logNormal("Set top component UI: ", "Enable");
        startTopmostWatch(ownProcessId, false);
        watching = true;
    } else if (getJsonMapBool(request, "topuialldetect")) {
        logNormal("Set top all system UI: ", "Enable");
        startTopmostWatch(ownProcessId, true);
        watching = true;
    }
    const char* result = nullptr;
    if (s.callJsonMapMethod) {
        result = s.callJsonMapMethod(request, function.c_str());
    } else if (s.callMethod) {
        result = s.callMethod(request->rawText);
    } else {
        if (watching) stopTopmostWatch();
        return resetCode(answer, slot, kResultNoEntryPoint, __LINE__);
    }
    if (watching) stopTopmostWatch();

    const std::string text = result ? result : "";
    const char* label =
        text.find('\n') != std::string::npos ? " Component result:\n" : " Component result: ";
    const std::string shown =
        getJsonMapBool(request, "hide_result") ? std::string(text.size(), '*') : text;
    ZmLogPrint(5, nullptr, "%s%s", label, shown.c_str());
    setJsonMapValue(answer, "result", result);
    return answer;
}

JsonMap* openSession(JsonMap* request, JsonMap* answer, const std::string& sessionId,
                     const std::string& function, const char* origin, int ownProcessId) {
    if (isName(function, "VelantoClose") || isName(function, "VelantoForceRelease") ||
        isName(function, "VelantoRelease")) {
        logNormal("No specific adapter to release", nullptr);
        return answer;
    }
    std::string pathId = readText(request, "PathID", 511);
    std::string libDir = readText(request, "LibDir", 63);
    std::string comName = readText(request, "ComName", 63);
    char dirBuffer[64] = {}, nameBuffer[64] = {};
    std::snprintf(dirBuffer, sizeof(dirBuffer), "%s", libDir.c_str());
    std::snprintf(nameBuffer, sizeof(nameBuffer), "%s", comName.c_str());
    sanitizeName(dirBuffer, sizeof(dirBuffer));
    sanitizeName(nameBuffer, sizeof(nameBuffer));
    std::string folder, name;
    if (!resolveAdapterPath(pathId.c_str(), dirBuffer, nameBuffer, folder, name))
        return resetCode(answer, -1, kResultNotInPathTable, __LINE__);

    const int slot = acquireSlot();
    if (slot < 0) return answer;
    SessionSlot& s = const_cast<SessionSlot&>(sessionSlot(slot));
    s.sessionId = dupString(sessionId.c_str());
    s.openTime = platform::unixTimeNow();
    logNormalInt("Init time: ", static_cast<int>(static_cast<std::uint32_t>(s.openTime)));
    const int loaded = loadAdapter(slot, folder, name);
    if (loaded != 0) return resetCode(answer, -1, loaded, __LINE__); // loadAdapter released it

    // Unlock: may this origin use the adapter?
    JsonMap* unlock = builtInMap("Velanto_Unlock", "-2");
    if (unlock) setJsonMapValue(unlock, "url", origin);
    const char* unlocked = nullptr;
    if (s.callJsonMapMethod)
        unlocked = s.callJsonMapMethod(unlock, "Velanto_Unlock");
    else
        unlocked = s.callMethod(unlock ? unlock->rawText : nullptr);
    const std::string unlockAnswer = unlocked ? unlocked : "";
    const bool unlockNull = unlocked == nullptr;
    freeJsonMap(unlock);
    if (unlockNull || strcasecmp(unlockAnswer.c_str(), "0") != 0) {
        logWarning("Unlock result: ", unlockAnswer.c_str());
        return reset(answer, slot, unlockNull ? nullptr : unlockAnswer.c_str(), __LINE__);
    }
    logNormal("Unlock: ", "Success");

    // Version. An adapter with no map entry point cannot be asked.
    if (!s.callJsonMapMethod) return resetCode(answer, slot, kResultNoEntryPoint, __LINE__);
    JsonMap* versionMap = builtInMap("Velanto_GetVersion", "-1");
    const char* versionAnswer = s.callJsonMapMethod(versionMap, "Velanto_GetVersion");
    const std::string libVersion = versionAnswer ? std::string(versionAnswer).substr(0, 63) : "";
    freeJsonMap(versionMap);
    if (libVersion.empty()) {
        logWarning("Init adapter: ", "Fail");
        logNormalInt("Release session index: ", slot);
        releaseSession(slot);
        return answer;
    }
    s.libVersion = dupString(libVersion.c_str());
    int outcome = 0;
    const int number = parseNumber(libVersion.c_str(), 10, false, &outcome);
    if (outcome == 0 && number >= 61000 && number <= 61999) {
        logWarningInt("Parse component version error: ", number);
        return resetCode(answer, slot, number, __LINE__);
    }
    logNormal("Extract component version: ", "Success");

    const std::string installerName = readText(request, "InstallerName", 511);
    const std::string minServer = readText(request, "minServerVersion", 63);
    std::string minLib = readText(request, "minLibVersion", 63);
    if (minLib.empty()) minLib = "0.0.0.0";
    setJsonMapValue(answer, "ServerVersion", kServerVersion);
    setJsonMapValue(answer, "LibVersion", libVersion.c_str());

    logWarning("Mini server version: ", minServer.c_str());
    logWarning("Real server version: ", kServerVersion);
    if (!versionAccepted(minServer, kServerVersion)) {
        logWarning("Verify server version: ", "Fail");
        return resetCode(answer, slot, kResultServerVersion, __LINE__);
    }
    logNormal("Verify server version: ", "Pass");
    logWarning("Mini adapter version: ", minLib.c_str());
    logWarning("Real adapter version: ", libVersion.c_str());
    if (!versionAccepted(minLib, libVersion.c_str())) {
        logWarning("Verify adapter version: ", "Fail");
        return resetCode(answer, slot, kResultLibVersion, __LINE__);
    }
    logNormal("Verify adapter version: ", "Pass");

    char installer[512] = {};
    std::snprintf(installer, sizeof(installer), "%s", installerName.c_str());
    sanitizeName(installer, sizeof(installer));
    if (*installer) {
        logNormal("InstallerName: ", installer);
        std::string path = copyRootPath() + platform::pathSeparator() + installer + "Version.txt";
        for (std::size_t at = path.find(".exe"); at != std::string::npos; at = path.find(".exe"))
            path.erase(at, 4);
        logNormal("InstallerVersionFile: ", path.c_str());
        char* content = readTextFile(path.c_str());
        const std::string version = content ? std::string(content).substr(0, 63) : "";
        std::free(content);
        logNormal("InstallerVersion: ", version.c_str());
        setJsonMapValue(answer, "InstallerVersion", version.c_str());
        s.installerVersion = dupString(version.c_str());
    }

    if (isName(function, "VelantoEcho") || isName(function, "Echo")) {
        s.browserMode = getJsonMapInt(request, "VelantoMode") == 1 ? 1 : 0;
        setJsonMapResult(answer, 0);
        return answer;
    }
    return callAdapter(request, answer, slot, function, ownProcessId);
}

JsonMap* onOpenSession(JsonMap* request, JsonMap* answer, int slot, const std::string& function,
                       const char* origin, int ownProcessId) {
    logNormal("Find the loaded adapter", nullptr);
    SessionSlot& s = const_cast<SessionSlot&>(sessionSlot(slot));
    if (isName(function, "VelantoForceRelease")) {
        logNormal("Force release: ", "Active");
        releaseSession(slot);
        return answer;
    }
    if (isName(function, "VelantoClose") || isName(function, "VelantoRelease")) {
        if (s.browserMode == 0)
            releaseSession(slot);
        else
            logNormal("[Browser mode] Skip release process", nullptr);
        return answer;
    }
    if (isName(function, "setVelantoValue")) {
        char* channel = getJsonMapString(request, "channel");
        char* domains = getJsonMapString(request, "domain_list");
        char* value = getJsonMapString(request, "value");
        const int timeout = getJsonMapInt(request, "timeout");
        const int code = channel && domains && value ? storeValue(channel, domains, timeout, value)
                                                     : kValueMissingArgument;
        freeZeroed(channel);
        freeZeroed(domains);
        freeZeroed(value);
        return resetCode(answer, -1, code, __LINE__);
    }
    if (isName(function, "getVelantoValue")) {
        char* channel = getJsonMapString(request, "channel");
        if (!channel) return resetCode(answer, -1, kValueMissingArgument, __LINE__);
        char* value = fetchValue(channel, origin);
        freeZeroed(channel);
        if (!value) return resetCode(answer, -1, kResultGeneralFailure, __LINE__);
        JsonMap* fresh = reset(answer, -1, value, __LINE__);
        freeZeroed(value);
        return fresh;
    }
    if (isName(function, "VelantoEcho") || isName(function, "Echo")) {
        logNormal("Browser mode: ", "Active");
        setJsonMapValue(answer, "ServerVersion", kServerVersion);
        setJsonMapValue(answer, "LibVersion", s.libVersion);
        if (s.installerVersion) setJsonMapValue(answer, "InstallerVersion", s.installerVersion);
        setJsonMapResult(answer, 0);
        return answer;
    }
    return callAdapter(request, answer, slot, function, ownProcessId);
}

} // namespace

JsonMap* dispatchRequest(JsonMap* request, const char* origin, int ownProcessId) {
    if (!request) {
        REPORT_NULL("JsonMap");
        return nullptr;
    }
    if (!origin) {
        REPORT_NULL("Origin");
        return nullptr;
    }
    JsonMap* answer = newJsonMap();
    if (!answer) return nullptr;
    displayJsonMap(request);

    std::string sessionId = readText(request, "SessionId", 63);
    int slot = -1;
    if (sessionId.empty()) {
        logNormal("Generate new session id", nullptr);
        char* id = generateSessionId();
        sessionId = id ? id : "";
        std::free(id);
        setJsonMapValue(answer, "SessionID", sessionId.c_str());
    } else {
        slot = findSession(sessionId.c_str());
    }
    logNormal("Session id: ", sessionId.c_str());
    const std::string function = readText(request, "FunctionName", 511);
    if (slot < 0) return openSession(request, answer, sessionId, function, origin, ownProcessId);
    return onOpenSession(request, answer, slot, function, origin, ownProcessId);
}

// The service's session table (32 slots, each with its own copy of an adapter library), the
// adapter path table, and the request dispatcher that uses them.
#pragma once

#include "AdapterProject/AdapterProject.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct JsonMap;

constexpr int kSessionSlots = 32;
constexpr char kServerVersion[] = "1.0.23.0510";
constexpr char kVersionFileName[] = "KestovaQvCAPIVelantoMainVersion";

// Result codes of opening sessions and of the dispatcher.
constexpr int kResultNotInPathTable = 61009;
constexpr int kResultServerVersion = 61203;
constexpr int kResultLibVersion = 61204;
constexpr int kResultLoadFailed = 61902;
constexpr int kResultNoEntryPoint = 61906;

struct SessionSlot {
    char* sessionId; // in use when not null and not empty
    char* comName;
    char* libVersion;
    char* installerVersion;
    std::string loadedPath; // the copy, or the installed file when the copy was not usable
    void* module;
    CallMethodFunction callMethod;
    CallJsonMapMethodFunction callJsonMapMethod;
    std::int32_t browserMode;
    std::int64_t openTime;
};

struct AdapterPathRow {
    const char* pathId;
    const char* libDir;
    const char* comName;
};

// Prepares the data folders under copyPath (version file, Tempfile\Session_0 .. 31), the
// value store and an empty table. executePath is where adapters are installed.
void initSessionModule(const char* copyPath, const char* executePath);
int findSession(const char* identifier);
// A new identifier no open session uses; the caller frees it.
char* generateSessionId();
// Deletes < > : " / \ | ? * ; & $ within the first size characters; ".." becomes empty.
char* sanitizeName(char* buffer, std::size_t size);
// Decides the adapter folder and name to load; false when the call is rejected (61009).
bool resolveAdapterPath(const char* pathId, const char* libDir, const char* comName,
                        std::string& folder, std::string& name);
int acquireSlot();
// 0 when loaded; 61902 or 61906 (the slot is released then).
int loadAdapter(int slot, const std::string& folder, const std::string& name);
void releaseSession(int slot);
int findOldestSession();
void releaseAllSessions();

const SessionSlot& sessionSlot(int index);
std::uint64_t sessionSequence(int index);
const std::string& copyRootPath();

// Answers one call; the caller owns the answer. Null for a null request or origin.
JsonMap* dispatchRequest(JsonMap* request, const char* origin, int ownProcessId);

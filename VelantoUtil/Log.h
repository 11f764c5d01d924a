// The log front end every Part writes its steps through: a key text and a value.
#pragma once

// Switches logging on from the shared settings file; true when logging is on afterwards.
bool setLog(const char* inputPrefixName);
// Switches logging off; the next setLog reads the settings again.
void stopLog();
bool isLogEnabled();

void logNormal(const char* key, const char* value);
void logWarning(const char* key, const char* value);
void logError(const char* key, const char* value);
void logNormalInt(const char* key, int value);
void logWarningInt(const char* key, int value);
void logErrorInt(const char* key, int value);
void logNormalWide(const char* key, const wchar_t* value);

// The family's reporting convention for a null argument and a failed allocation.
void reportNullParameter(const char* name, const char* sourceFile, int line);
void reportAllocFailure(const char* sourceFile, int line);

constexpr const char* velantoSourceName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

#define REPORT_NULL(name) reportNullParameter(name, velantoSourceName(__FILE__), __LINE__)
#define REPORT_ALLOC_FAIL() reportAllocFailure(velantoSourceName(__FILE__), __LINE__)

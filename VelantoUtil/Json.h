// The JSON parameter map: the fixed 128-row table every call and answer passes through.
// Its layout is the binary interface between the service and the adapter library.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int kJsonMapRows = 128;
constexpr int kJsonMapTokens = 257;
constexpr int kResultKeyNotFound = 61016;

struct JsonMapEntry {
    char* key;             // as it stood between the quotes, escapes untouched
    char* value;           // may be null
    unsigned char* binary; // used only when value is null
    std::uint32_t binaryLength;
};

struct JsonMap {
    JsonMapEntry entries[kJsonMapRows]; // rows 0 .. count-1 sorted by key, ignoring case
    char* rawText;                      // the parsed text; null for maps built by adding keys
    std::int32_t count;
};

// Per module: lookups report missing keys while armed (the adapter arms it around the
// reading of a component call's parameters).
extern std::atomic<bool> keyCheckArmed;
extern std::atomic<int> lastErrorCode;

// Case-insensitive byte order of keys (A-Z folded), -1, 0 or 1.
int compareJsonKeys(const char* inputA, const char* inputB);

JsonMap* newJsonMap();
JsonMap* parseJsonMap(const char* inputJsonStr);
char* BinarySearchVelantoJsonMap(JsonMap* inputVelantoJson, const char* Key, int low, int high);
// 0 when stored; 61001 when refused (null map or key, or a full map).
int setJsonMapValue(JsonMap* inputVelantoJson, const char* inputKey, const char* inputValue);
void setJsonMapResult(JsonMap* inputVelantoJson, int result);
char* decodeJsonMapValue(JsonMap* inputVelantoJson, const char* inputKey, const char* inputValue);
char* getJsonMapString(JsonMap* inputVelantoJson, const char* inputKey);
bool getJsonMapBool(JsonMap* inputVelantoJson, const char* inputKey);
int getJsonMapInt(JsonMap* inputVelantoJson, const char* inputKey);
char* jsonMapToText(JsonMap* inputVelantoJson);
void displayJsonMap(JsonMap* inputVelantoJson);
void freeJsonMap(JsonMap* inputVelantoJson);

// The fixed vector of encrypted parameters: the 16 bytes of "KestovaQvCAPIIV1".
void parameterVector(unsigned char out[16]);

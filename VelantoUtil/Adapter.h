// The adapter's registry of callable functions: a fixed table searched by name, ignoring
// the case of letters.
#pragma once

#include <cstdint>

struct JsonMap;

constexpr int kAdapterMapEntries = 1024;
constexpr int kAdapterNameSize = 128;
// Longer names could not be found by the search, whose key is cut to this length.
constexpr int kAdapterSearchKeyLength = 126;

using AdapterHandler = void (*)(JsonMap*);

struct AdapterFunction {
    char name[kAdapterNameSize];
    AdapterHandler handler;
};

struct AdapterMap {
    AdapterFunction entries[kAdapterMapEntries];
    std::int32_t count;
};

// Appends unless the name is taken (ignoring case), too long, or the table is full.
void EnableAdapterFunction(AdapterMap* inputAdapterMap, AdapterHandler handler,
                           const char* inputFunctionName);
// -1, 0 or 1 ignoring case; 100 when an argument is null.
int CompareAdapterFunctionName(const char* inputA, const char* inputB);
void sortAdapterMap(AdapterMap* map);
AdapterHandler BinarySearchVelantoAdapterMap(AdapterMap* inputA, const char* inputB, int low,
                                             int high);

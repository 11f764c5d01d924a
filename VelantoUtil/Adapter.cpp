#include "VelantoUtil/Adapter.h"

#include "VelantoUtil/Log.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

int compareEntries(const void* a, const void* b) {
    return CompareAdapterFunctionName(static_cast<const AdapterFunction*>(a)->name,
                                      static_cast<const AdapterFunction*>(b)->name);
}

void compareSame() {
    logWarning("", "BinarySearchVelantoAdapterMap Compare_Same!");
}

} // namespace

void EnableAdapterFunction(AdapterMap* inputAdapterMap, AdapterHandler handler,
                           const char* inputFunctionName) {
    if (!inputAdapterMap) {
        REPORT_NULL("inputAdapterMap");
        return;
    }
    if (!inputFunctionName) {
        REPORT_NULL("inputFunctionName");
        return;
    }
    const int count = inputAdapterMap->count;
    for (int i = 0; i < count; ++i) {
        if (strcasecmp(inputAdapterMap->entries[i].name, inputFunctionName) == 0) {
            logWarning("Function name already exist: ", inputFunctionName);
            return;
        }
    }
    if (std::strlen(inputFunctionName) > static_cast<size_t>(kAdapterSearchKeyLength)) {
        logWarning("Function name too long: ", inputFunctionName);
        return;
    }
    if (count >= kAdapterMapEntries) {
        logWarning("Adapter function table is full: ", inputFunctionName);
        return;
    }
    AdapterFunction& entry = inputAdapterMap->entries[count];
    std::memset(entry.name, 0, sizeof(entry.name));
    std::strncpy(entry.name, inputFunctionName, sizeof(entry.name) - 1);
    entry.handler = handler;
    inputAdapterMap->count = count + 1;
    logNormal("Enable adapter func: ", inputFunctionName);
}

int CompareAdapterFunctionName(const char* inputA, const char* inputB) {
    if (!inputA || !inputB) {
        if (!inputA) REPORT_NULL("inputA");
        if (!inputB) REPORT_NULL("inputB");
        return 100;
    }
    for (;; ++inputA, ++inputB) {
        if (!*inputA || !*inputB) return *inputA ? 1 : (*inputB ? -1 : 0);
        const char a = lower(*inputA), b = lower(*inputB);
        if (a != b) return static_cast<unsigned char>(a) < static_cast<unsigned char>(b) ? -1 : 1;
    }
}

void sortAdapterMap(AdapterMap* map) {
    if (!map || map->count <= 1) return;
    std::qsort(map->entries, static_cast<size_t>(map->count), sizeof(AdapterFunction),
               compareEntries);
}

AdapterHandler BinarySearchVelantoAdapterMap(AdapterMap* inputA, const char* inputB, int low,
                                             int high) {
    // The arguments are checked before any entry is read.
    if (!inputA || !inputB) {
        if (!inputA) REPORT_NULL("inputA");
        if (!inputB) REPORT_NULL("inputB");
        compareSame();
        return nullptr;
    }
    const int count = inputA->count;
    if (low < 0) low = 0;
    if (high > count - 1) high = count - 1;
    const std::string key(inputB, strnlen(inputB, kAdapterSearchKeyLength));
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const AdapterFunction& entry = inputA->entries[mid];
        if (strcasecmp(entry.name, inputB) == 0) return entry.handler;
        if (low >= high) return nullptr;
        const int r = CompareAdapterFunctionName(entry.name, key.c_str());
        if (r == -1) {
            if (mid + 1 >= count) return nullptr;
            low = mid + 1;
        } else if (r == 1) {
            if (mid - 1 < 0) return nullptr;
            high = mid - 1;
        } else {
            compareSame();
            return nullptr;
        }
    }
    return nullptr;
}

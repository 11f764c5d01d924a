// Parses a call, decodes every parameter by its flags, serialises and displays the map.
#include "FuzzSandbox.h"
#include "VelantoUtil/Json.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzSandbox();
    const std::string text(reinterpret_cast<const char*>(data), size);
    JsonMap* map = parseJsonMap(text.c_str());
    if (!map) return 0;
    for (int i = 0; i < map->count; ++i) {
        const char* key = map->entries[i].key;
        std::free(getJsonMapString(map, key));
        getJsonMapInt(map, key);
        getJsonMapBool(map, key);
    }
    setJsonMapResult(map, 0);
    setJsonMapValue(map, "SessionID", nullptr);
    std::free(jsonMapToText(map));
    displayJsonMap(map);
    freeJsonMap(map);
    return 0;
}

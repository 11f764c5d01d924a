// A stand-in adapter for the dispatcher's tests. Its built-in answers come from the
// environment (VELANTO_TEST_UNLOCK, VELANTO_TEST_VERSION); any other function answers
// "echo:<function>". Built three ways: both entry points, callMethod only, or neither.
#include "VelantoUtil/Json.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string answer;

[[maybe_unused]] const char* respond(const char* function) {
    const char* unlock = std::getenv("VELANTO_TEST_UNLOCK");
    const char* version = std::getenv("VELANTO_TEST_VERSION");
    if (function && std::strcmp(function, "Velanto_Unlock") == 0)
        answer = unlock ? unlock : "0";
    else if (function && std::strcmp(function, "Velanto_GetVersion") == 0)
        answer = version ? version : "1.0.0.1";
    else if (function && std::strcmp(function, "Velanto_Release") == 0)
        answer = "";
    else
        answer = std::string("echo:") + (function ? function : "");
    return answer.c_str();
}

} // namespace

#ifdef VELANTO_TEST_ADAPTER_STRING
extern "C" __attribute__((visibility("default"))) const char* callMethod(const char* json) {
    // A null text is the unlock the service sends when the adapter has no map entry point.
    if (!json) return respond("Velanto_Unlock");
    JsonMap* map = parseJsonMap(json);
    char* function = map ? getJsonMapString(map, "FunctionName") : nullptr;
    const char* result = respond(function);
    std::free(function);
    freeJsonMap(map);
    return result;
}
#endif

#ifdef VELANTO_TEST_ADAPTER_MAP
extern "C" __attribute__((visibility("default"))) const char* callJsonMapMethod(JsonMap*,
                                                                                const char* name) {
    return respond(name);
}
#endif

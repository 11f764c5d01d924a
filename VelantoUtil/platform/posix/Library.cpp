// Libraries on Linux: each library keeps its own symbols, so two copies of one plug-in
// loaded from two files keep two separate states.
#include "VelantoUtil/platform/Platform.h"

#include <dlfcn.h>

namespace platform {

void* loadLibrary(const std::string& path, std::string* error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library && error) {
        const char* reason = dlerror();
        *error = reason ? reason : "unknown";
    }
    return library;
}

void* findSymbol(void* library, const char* name) {
    return library && name ? dlsym(library, name) : nullptr;
}

bool freeLibrary(void* library) {
    return !library || dlclose(library) == 0;
}

const char* librarySuffix() {
    return ".so";
}

} // namespace platform

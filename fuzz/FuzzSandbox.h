// A private machine root for a fuzz process, with logging switched on so that the code
// paths that only run while logging is enabled are exercised. Records go nowhere.
#pragma once

#include "VelantoUtil/Log.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

inline const std::string& fuzzSandbox() {
    // Never destroyed: the exit handler below still needs it.
    static const std::string* dir = new std::string([] {
        char pattern[] = "/tmp/velanto-fuzz-XXXXXX";
        std::string made = mkdtemp(pattern) ? pattern : "/tmp";
        std::filesystem::create_directories(made + "/etc");
        std::filesystem::create_directories(made + "/tmp");
        setenv("VELANTO_ROOT", made.c_str(), 1);
        setenv("TMPDIR", (made + "/tmp").c_str(), 1);
        std::ofstream(made + "/etc/KestovaQvCAPIVelanto.ini")
            << "[KestovaQvCAPIVelanto]\nLog File=/dev/null/fuzz.log\nLog Level=5\n";
        setLog("Fuzz");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(fuzzSandbox(), ec);
        });
        return made;
    }());
    return *dir;
}

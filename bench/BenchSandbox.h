// A machine root of its own for a benchmark run, with the reference component registered
// and the adapter installed, as the installer lays them out.
#pragma once

#include "Component/SigningComponent.h"
#include "VelantoUtil/platform/Platform.h"

#include <cstdlib>
#include <filesystem>
#include <string>

struct BenchSandbox {
    BenchSandbox() {
        char pattern[] = "/tmp/velanto-bench-XXXXXX";
        if (mkdtemp(pattern)) root = pattern;
        setenv("VELANTO_ROOT", root.c_str(), 1);
        setenv("TMPDIR", root.c_str(), 1);
        std::string self;
        platform::programPath(self);
        lib = std::filesystem::path(self).parent_path().parent_path().string() + "/lib";
        const std::string registered =
            "/opt/KestovaQvCAPIVelanto/Component/KestovaSigningComponent.so";
        std::filesystem::create_directories(std::filesystem::path(root + registered).parent_path());
        std::filesystem::copy_file(lib + "/KestovaSigningComponent.so", root + registered);
        registerInprocServer(CLSID_SigningComponent, registered);
        std::filesystem::create_directories(root + "/program/Kestova");
        std::filesystem::copy_file(lib + "/KestovaCAPIATLAdapter.so",
                                   root + "/program/Kestova/KestovaCAPIATLAdapter.so");
    }
    ~BenchSandbox() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    std::string root;
    std::string lib; // build/lib
};

// The service's side laid out in the sandbox as the installer lays it out: the adapter under
// the program folder, the reference component registered, the session module started.
#pragma once

#include "Component/SigningComponent.h"
#include "Sandbox.h"
#include "VelantoSession/VelantoSession.h"

#include <filesystem>
#include <string>

namespace testsupport {

inline std::string libDir() {
    return std::filesystem::path(binDir()).parent_path().string() + "/lib";
}

struct SessionSandbox {
    SessionSandbox() {
        install("KestovaCAPIATLAdapter.so", "Kestova", "KestovaCAPIATLAdapter");
        const std::string registered =
            "/opt/KestovaQvCAPIVelanto/Component/KestovaSigningComponent.so";
        std::filesystem::create_directories(
            std::filesystem::path(rootDir() + registered).parent_path());
        std::filesystem::copy_file(libDir() + "/KestovaSigningComponent.so", rootDir() + registered,
                                   std::filesystem::copy_options::overwrite_existing);
        registerInprocServer(CLSID_SigningComponent, registered);
        initSessionModule(data.c_str(), program.c_str());
    }
    ~SessionSandbox() { releaseAllSessions(); }

    void install(const char* built, const char* folder, const char* name) {
        std::filesystem::create_directories(program + "/" + folder);
        std::filesystem::copy_file(libDir() + "/" + built,
                                   program + "/" + folder + "/" + name + ".so",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    std::string program = sandboxDir() + "/program";
    std::string data = sandboxDir() + "/data/KestovaQvCAPIVelanto";
};

} // namespace testsupport

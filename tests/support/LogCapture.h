// Switches logging on into a folder of the sandbox, for tests that check log lines.
#pragma once

#include "Sandbox.h"
#include "VelantoUtil/Log.h"

#include <string>

namespace testsupport {

class LogCapture {
  public:
    explicit LogCapture(const char* prefix = "T") {
        makeDirs(rootDir() + "/etc");
        makeDirs(dir());
        writeFile(rootDir() + "/etc/KestovaQvCAPIVelanto.ini",
                  "[KestovaQvCAPIVelanto]\nLog File=" + dir() + "/capture.log\nLog Level=5\n");
        setLog(prefix);
    }
    ~LogCapture() { stopLog(); }

    static std::string dir() { return sandboxDir() + "/capture"; }
    std::string text() const {
        std::string all;
        for (const auto& name : listDir(dir()))
            all += readFile(dir() + "/" + name);
        return all;
    }
    bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }
};

} // namespace testsupport

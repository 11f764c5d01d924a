// The logging settings reader over arbitrary file contents, with each key's buffer size.
#include "FuzzSandbox.h"
#include "VelantoUtil/ZmLog.h"

#include <cstdint>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzzSandbox() + "/settings.ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    char value[128];
    ZmLogReadValue("Log File", value, 128, path.c_str());
    ZmLogReadValue("Log MaxSize", value, 64, path.c_str());
    ZmLogReadValue("Log Level", value, 16, path.c_str());
    ZmLogReadValue("Log Level", value, 2, path.c_str());
    return 0;
}

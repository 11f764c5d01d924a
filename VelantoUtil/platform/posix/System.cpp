// Identity, clock, randomness and version facts on Linux.
#include "VelantoUtil/platform/Platform.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

namespace platform {

bool userName(std::string& out) {
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found &&
        found->pw_name && *found->pw_name) {
        out = found->pw_name;
        return true;
    }
    // A container user without a passwd entry still needs a stable per-user name.
    out = std::to_string(geteuid());
    return true;
}

bool localTimeNow(std::tm& out, unsigned long& millisecond) {
    struct timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    if (!localtime_r(&now.tv_sec, &out)) return false;
    millisecond = static_cast<unsigned long>(now.tv_nsec / 1000000);
    return true;
}

std::int64_t unixTimeNow() {
    struct timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
    return static_cast<std::int64_t>(now.tv_sec);
}

bool randomBytes(void* buffer, std::size_t length) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        ssize_t n = getrandom(bytes, length, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// The narrow code page of a Linux desktop is UTF-8.
std::string systemCodePageToUtf8(const std::string& narrow) {
    return narrow;
}

bool markNotDumpable() {
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

bool tracerAttached() {
    std::string status;
    if (!readTextFile("/proc/self/status", status)) return false;
    const std::size_t at = status.find("TracerPid:");
    return at != std::string::npos && std::atoi(status.c_str() + at + 10) != 0;
}

// Linux is none of the Windows versions the descriptor names.
bool readOsVersionFacts(OsVersionFacts&) {
    return false;
}

} // namespace platform

// Per-user named mutexes and the system-wide log lock on Linux, realised as flock(2) on
// lock files: the kernel releases a lock when its owner dies, like an abandoned mutex.
#include "VelantoUtil/platform/Platform.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform {

struct NamedMutex {
    int fd;
};

struct LogLock {
    int fd = -1;
};

// Per-user runtime objects live in the user's runtime folder, private to the user.
static std::string runtimeFolder() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    std::string dir;
    if (xdg && *xdg) {
        dir = std::string(xdg) + "/velanto";
    } else {
        makeDirectory(driveTmpDir());
        dir = driveTmpDir() + "/velanto-" + std::to_string(getuid());
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
    return dir;
}

// The file of a named runtime object: <runtime folder>/<name made file-safe><suffix>; empty
// when the folder cannot be had.
std::string runtimeObjectPath(const std::string& name, const char* suffix) {
    const std::string dir = runtimeFolder();
    if (dir.empty()) return std::string();
    std::string safe = name;
    for (char& c : safe)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
    return dir + "/" + safe + suffix;
}

namespace {

int flockRetrying(int fd, int operation) {
    int rc;
    while ((rc = flock(fd, operation)) != 0 && errno == EINTR) {
    }
    return rc;
}

// Serialises the threads of this process: flock on one shared descriptor does not.
std::mutex& logThreads() {
    static std::mutex mutex;
    return mutex;
}

LogLock gLogLock;

} // namespace

NamedMutex* acquireNamedMutex(const std::string& name, std::uint32_t timeoutMs) {
    const std::string path = runtimeObjectPath(name, ".lock");
    if (path.empty()) return nullptr;
    // Each acquisition has its own descriptor, so two threads contend as on Windows.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;

    bool acquired = false;
    if (timeoutMs == kWaitForever) {
        acquired = flockRetrying(fd, LOCK_EX) == 0;
    } else {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (flockRetrying(fd, LOCK_EX | LOCK_NB) == 0) {
                acquired = true;
                break;
            }
            if (errno != EWOULDBLOCK) break;
            auto now = Clock::now();
            if (now >= deadline) break;
            std::this_thread::sleep_for(
                std::min<Clock::duration>(std::chrono::milliseconds(5), deadline - now));
        }
    }
    if (!acquired) {
        close(fd);
        return nullptr;
    }
    return new NamedMutex{fd};
}

void releaseNamedMutex(NamedMutex* mutex) {
    if (!mutex) return;
    flockRetrying(mutex->fd, LOCK_UN);
    close(mutex->fd);
    delete mutex;
}

// The lock object is process-wide and never freed, so a writer racing a reopen never
// touches freed memory; its descriptor changes only under the thread mutex.
LogLock* openLogLock() {
    std::lock_guard<std::mutex> guard(logThreads());
    if (gLogLock.fd < 0) {
        makeDirectory(driveTmpDir());
        std::string path = driveTmpDir() + "/.ZmLog.lock";
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return nullptr;
        fchmod(fd, 0666); // every user's programs write the same log; failure is harmless
        gLogLock.fd = fd;
    }
    return &gLogLock;
}

void closeLogLock(LogLock* lock) {
    if (!lock) return;
    std::lock_guard<std::mutex> guard(logThreads());
    if (lock->fd >= 0) close(lock->fd);
    lock->fd = -1;
}

void acquireLogLock(LogLock* lock) {
    logThreads().lock();
    if (lock && lock->fd >= 0) flockRetrying(lock->fd, LOCK_EX);
}

void releaseLogLock(LogLock* lock) {
    if (lock && lock->fd >= 0) flockRetrying(lock->fd, LOCK_UN);
    logThreads().unlock();
}

} // namespace platform

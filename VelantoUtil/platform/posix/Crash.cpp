// Crash handling on Linux: fatal signals on an alternate stack, and a dump written with
// async-signal-safe calls only.
#include "VelantoUtil/platform/Platform.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
std::atomic<CrashFilter> installedFilter{nullptr};
alignas(16) char alternateStack[256 * 1024];

void onFatalSignal(int signal, siginfo_t* info, void* context) {
    CrashInfo crash;
    crash.signal = signal;
    crash.address = info ? info->si_addr : nullptr;
    crash.context = context;
    if (CrashFilter filter = installedFilter.load()) filter(&crash);
    // The default action follows: a fault happens again on return, an abort is raised again.
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = SIG_DFL;
    sigaction(signal, &action, nullptr);
    if (signal == SIGABRT || (info && info->si_code <= 0)) raise(signal);
}

void put(int fd, const char* text) {
    size_t length = std::strlen(text);
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n <= 0) return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

void putHex(int fd, unsigned long long value) {
    char text[19] = "0x";
    for (int i = 0; i < 16; ++i)
        text[2 + i] = "0123456789abcdef"[(value >> (60 - 4 * i)) & 0xF];
    text[18] = '\0';
    put(fd, text);
}

void putDecimal(int fd, long long value) {
    char text[24];
    int at = 23;
    text[at] = '\0';
    const bool negative = value < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    do {
        text[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (negative) text[--at] = '-';
    put(fd, text + at);
}

struct LinuxDirent {
    unsigned long long inode;
    long long offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

int listInto(const char* dir, CrashFile* out, int count, int capacity, int depth) {
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return count;
    char buffer[4096];
    for (;;) {
        long n = syscall(SYS_getdents64, fd, buffer, sizeof(buffer));
        if (n <= 0) break;
        for (long at = 0; at < n;) {
            auto* entry = reinterpret_cast<LinuxDirent*>(buffer + at);
            at += entry->length;
            if (std::strcmp(entry->name, ".") == 0 || std::strcmp(entry->name, "..") == 0) continue;
            CrashFile path;
            const size_t dirLength = std::strlen(dir), nameLength = std::strlen(entry->name);
            if (dirLength + 1 + nameLength + 1 > sizeof(path.path)) continue;
            std::memcpy(path.path, dir, dirLength);
            path.path[dirLength] = '/';
            std::memcpy(path.path + dirLength + 1, entry->name, nameLength + 1);
            unsigned char type = entry->type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (lstat(path.path, &st) != 0) continue;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR && depth > 0) {
                count = listInto(path.path, out, count, capacity, depth - 1);
            } else if (type == DT_REG && count < capacity) {
                out[count++] = path;
            }
        }
    }
    close(fd);
    return count;
}

} // namespace

bool installCrashFilter(CrashFilter filter) {
    installedFilter.store(filter);
    // Loads the unwinder now: the first backtrace() may allocate, which a crash cannot.
    void* frame[1];
    backtrace(frame, 1);
    stack_t stack;
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof(alternateStack);
    stack.ss_flags = 0;
    sigaltstack(&stack, nullptr);
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int signal : kFatalSignals)
        ok = sigaction(signal, &action, nullptr) == 0 && ok;
    return ok;
}

int crashListFiles(const char* dir, CrashFile* out, int capacity) {
    return dir ? listInto(dir, out, 0, capacity, 8) : 0;
}

bool crashDeleteFile(const char* path) {
    return unlink(path) == 0;
}

void crashSleep(unsigned seconds) {
    struct timespec wait = {static_cast<time_t>(seconds), 0};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

long long crashUnixTime() {
    struct timespec now;
    return clock_gettime(CLOCK_REALTIME, &now) == 0 ? static_cast<long long>(now.tv_sec) : 0;
}

bool crashWriteDump(const char* path, const CrashInfo* info) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    put(fd, "Velanto crash dump\npid: ");
    putDecimal(fd, getpid());
    put(fd, "\nthread: ");
    putDecimal(fd, static_cast<long long>(syscall(SYS_gettid)));
    put(fd, "\ntime: ");
    putDecimal(fd, crashUnixTime());
    if (info) {
        put(fd, "\nsignal: ");
        putDecimal(fd, info->signal);
        put(fd, "\naddress: ");
        putHex(fd, reinterpret_cast<unsigned long long>(info->address));
        put(fd, "\nregisters:");
#if defined(__x86_64__)
        if (info->context) {
            const auto* context = static_cast<const ucontext_t*>(info->context);
            for (int i = 0; i < NGREG; ++i) {
                put(fd, i % 4 == 0 ? "\n  " : " ");
                putHex(fd, static_cast<unsigned long long>(context->uc_mcontext.gregs[i]));
            }
        }
#endif
    }
    put(fd, "\nbacktrace:\n");
    void* frames[64];
    const int depth = backtrace(frames, 64);
    backtrace_symbols_fd(frames, depth, fd);
    close(fd);
    return true;
}

} // namespace platform

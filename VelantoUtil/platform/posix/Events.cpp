// Named events and the socket listing on Linux.
#include "VelantoUtil/platform/Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

std::string runtimeObjectPath(const std::string& name, const char* suffix); // Sync.cpp

// An event is a file in the user's runtime folder; a pulse rewrites it, and every waiter
// holds its own inotify watch, so each wakes once per pulse.
struct NamedEvent {
    int inotify;
};

namespace {

std::string eventPath(const std::string& name) {
    return runtimeObjectPath(name, ".event");
}

} // namespace

NamedEvent* openNamedEvent(const std::string& name) {
    const std::string path = eventPath(name);
    if (path.empty() || fileKind(path) != FileKind::File) return nullptr;
    int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0) return nullptr;
    if (inotify_add_watch(fd, path.c_str(), IN_CLOSE_WRITE) < 0) {
        close(fd);
        return nullptr;
    }
    return new NamedEvent{fd};
}

NamedEvent* createNamedEvent(const std::string& name) {
    const std::string path = eventPath(name);
    if (path.empty() || !writeTextFile(path, "", false)) return nullptr;
    return openNamedEvent(name);
}

bool waitNamedEvent(NamedEvent* event) {
    if (!event) return false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = read(event->inotify, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        return n > 0;
    }
}

bool pulseNamedEvent(const std::string& name) {
    const std::string path = eventPath(name);
    return !path.empty() && fileKind(path) == FileKind::File && writeTextFile(path, "1", false);
}

void closeNamedEvent(NamedEvent* event) {
    if (!event) return;
    close(event->inotify);
    delete event;
}

bool listTcpSockets(bool ipv6, std::string& lines) {
    std::string table;
    if (!readTextFile(ipv6 ? "/proc/net/tcp6" : "/proc/net/tcp", table)) return false;
    static const char* const kStates[] = {"",           "ESTABLISHED", "SYN_SENT",  "SYN_RECEIVED",
                                          "FIN_WAIT_1", "FIN_WAIT_2",  "TIME_WAIT", "CLOSED",
                                          "CLOSE_WAIT", "LAST_ACK",    "LISTENING", "CLOSING"};
    lines.clear();
    size_t at = table.find('\n'); // the heading
    while (at != std::string::npos && at + 1 < table.size()) {
        const size_t end = table.find('\n', at + 1);
        const std::string line =
            table.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1);
        at = end;
        char local[64] = {}, remote[64] = {};
        unsigned state = 0;
        if (std::sscanf(line.c_str(), "%*d: %63[0-9A-Fa-f:] %63[0-9A-Fa-f:] %x", local, remote,
                        &state) != 3)
            continue;
        auto address = [ipv6](const char* field) {
            const char* colon = std::strchr(field, ':');
            const unsigned port =
                colon ? static_cast<unsigned>(std::strtoul(colon + 1, nullptr, 16)) : 0;
            const std::string hex(field, colon ? static_cast<size_t>(colon - field) : 0);
            if (!ipv6) {
                const unsigned long raw = std::strtoul(hex.c_str(), nullptr, 16); // little-endian
                return std::to_string(raw & 0xFF) + "." + std::to_string((raw >> 8) & 0xFF) + "." +
                       std::to_string((raw >> 16) & 0xFF) + "." + std::to_string(raw >> 24) + ":" +
                       std::to_string(port);
            }
            const bool loopback = hex == "00000000000000000000000001000000";
            const bool any = hex == "00000000000000000000000000000000";
            return std::string(loopback ? "[::1]"
                               : any    ? "[::]"
                                        : "[" + hex + "]") +
                   ":" + std::to_string(port);
        };
        lines += "TCP " + address(local) + " " + address(remote) + " " +
                 (state < 12 ? kStates[state] : "UNKNOWN") + "\n";
    }
    return true;
}

} // namespace platform

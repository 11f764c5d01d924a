// Message channels on Linux: a Unix stream socket per channel in the user's runtime folder.
// A frame is {kind, length, bytes}; the receiver writes one byte back once it has handled
// the frame, as SendMessage returns only after the window procedure did.
#include "VelantoUtil/platform/Platform.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

std::string runtimeObjectPath(const std::string& name, const char* suffix); // Sync.cpp

struct ChannelServer {
    int fd;
    std::string path;
};

namespace {

constexpr std::uint32_t kMaxFrame = 64 * 1024;

bool socketAddress(const std::string& name, sockaddr_un& address, std::string& path) {
    path = runtimeObjectPath(name, ".sock");
    if (path.empty()) return false;
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int connectTo(const std::string& name) {
    sockaddr_un address;
    std::string path;
    if (!socketAddress(name, address, path)) return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

ChannelServer* openChannel(const std::string& name, ChannelOpen& outcome) {
    outcome = ChannelOpen::Failed;
    if (channelExists(name)) {
        outcome = ChannelOpen::AlreadyServed;
        return nullptr;
    }
    sockaddr_un address;
    std::string path;
    if (!socketAddress(name, address, path)) return nullptr;
    unlink(path.c_str()); // a stale socket of a receiver that is gone
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        chmod(path.c_str(), 0600) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return nullptr;
    }
    outcome = ChannelOpen::Opened;
    return new ChannelServer{fd, path};
}

void serveChannel(ChannelServer* channel, const std::function<void(const ChannelFrame&)>& handler) {
    if (!channel) return;
    for (;;) {
        int peer = accept4(channel->fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return; // closed
        }
        // Only the user's own programs may instruct it.
        ucred credentials;
        socklen_t length = sizeof(credentials);
        if (getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
            credentials.uid != geteuid()) {
            close(peer);
            continue;
        }
        timeval timeout = {2, 0}; // a sender that stalls cannot hold the receiver
        setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        std::uint32_t header[2];
        ChannelFrame frame;
        if (readAll(peer, header, sizeof(header)) && header[1] <= kMaxFrame) {
            frame.kind = static_cast<int>(header[0]);
            frame.bytes.resize(header[1]);
            if (readAll(peer, &frame.bytes[0], frame.bytes.size())) {
                handler(frame);
                const char done = 1;
                writeAll(peer, &done, 1);
            }
        }
        close(peer);
    }
}

void closeChannel(ChannelServer* channel) {
    if (!channel) return;
    shutdown(channel->fd, SHUT_RDWR);
    close(channel->fd);
    unlink(channel->path.c_str());
    delete channel;
}

bool channelExists(const std::string& name) {
    int fd = connectTo(name);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool sendChannelFrame(const std::string& name, int kind, const std::string& bytes) {
    if (bytes.size() > kMaxFrame) return false;
    int fd = connectTo(name);
    if (fd < 0) return false;
    const std::uint32_t header[2] = {static_cast<std::uint32_t>(kind),
                                     static_cast<std::uint32_t>(bytes.size())};
    char done = 0;
    bool ok = writeAll(fd, header, sizeof(header)) && writeAll(fd, bytes.data(), bytes.size()) &&
              readAll(fd, &done, 1);
    close(fd);
    return ok;
}

void exitProcess(int code) {
    _exit(code);
}

} // namespace platform

// Folders and files on Linux.
#include "VelantoUtil/platform/Platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string withTrailingSeparator(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string homeWithoutSeparator() {
    std::string home = env("HOME");
    if (home.empty()) {
        struct passwd* pw = getpwuid(getuid());
        if (pw && pw->pw_dir) home = pw->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

// An entry of user-dirs.dirs, such as XDG_DESKTOP_DIR="$HOME/Desktop".
bool fromUserDirs(const std::string& home, const std::string& entry, std::string& out) {
    std::string configHome = env("XDG_CONFIG_HOME");
    if (configHome.empty()) configHome = home + "/.config";
    std::string content;
    if (!readTextFile(configHome + "/user-dirs.dirs", content)) return false;
    const std::string key = entry + "=";
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(pos, end - pos);
        pos = end + 1;
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0) value = home + value.substr(5);
        if (value.empty() || value[0] != '/') return false;
        out = value;
        return true;
    }
    return false;
}

} // namespace

char pathSeparator() {
    return '/';
}
bool isPathSeparator(char c) {
    return c == '/';
}

std::string machineRoot() {
    std::string root = env("VELANTO_ROOT");
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    return root;
}

std::string commonAppDataDir() {
    return machineRoot() + "/var/lib";
}
std::string windowsDir() {
    return machineRoot() + "/etc";
}
std::string driveTmpDir() {
    return machineRoot() + "/tmp";
}
std::string defaultLogBase() {
    return driveTmpDir() + "/ZmLog.log";
}
std::string homeDir() {
    return withTrailingSeparator(homeWithoutSeparator());
}

bool userTempDir(std::string& out) {
    std::string dir = env("TMPDIR");
    out = withTrailingSeparator(dir.empty() ? std::string("/tmp") : dir);
    return true;
}

// $XDG_<NAME>_DIR, else its entry in user-dirs.dirs, else the folder in the home folder.
static bool userDir(const std::string& entry, const char* fallback, std::string& out) {
    std::string dir = env(entry.c_str());
    if (!dir.empty()) {
        out = dir;
        return true;
    }
    std::string home = homeWithoutSeparator();
    if (home.empty()) return false;
    if (fromUserDirs(home, entry, out)) return true;
    out = home + "/" + fallback;
    return true;
}

bool desktopDir(std::string& out) {
    return userDir("XDG_DESKTOP_DIR", "Desktop", out);
}
bool documentsDir(std::string& out) {
    return userDir("XDG_DOCUMENTS_DIR", "Documents", out);
}

bool userDataDir(std::string& out) {
    std::string dir = env("XDG_DATA_HOME");
    if (dir.empty()) {
        std::string home = homeWithoutSeparator();
        if (home.empty()) return false;
        dir = home + "/.local/share";
    }
    out = dir;
    return true;
}

bool programPath(std::string& out) {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return false;
    out.assign(buffer, static_cast<size_t>(n));
    return true;
}

FileKind fileKind(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return (errno == ENOENT || errno == ENOTDIR) ? FileKind::NotFound : FileKind::Unknown;
    return S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::File;
}

bool readBinaryFile(const std::string& path, std::string& out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buffer[8192];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

bool writeBinaryFile(const std::string& path, const std::string& bytes) {
    return writeTextFile(path, bytes, false); // text mode writes bytes unchanged here
}

bool listDirectory(const std::string& path, std::vector<std::string>& names) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    names.clear();
    while (struct dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return true;
}

bool readTextFile(const std::string& path, std::string& out) {
    std::string raw;
    if (!readBinaryFile(path, raw)) return false;
    out.clear();
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        out += raw[i];
    }
    return true;
}

// Writes all bytes, then closes the descriptor; false when either failed.
static bool writeAndClose(int fd, const std::string& bytes) {
    const char* data = bytes.data();
    size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    return close(fd) == 0 && ok;
}

bool writeTextFile(const std::string& path, const std::string& text, bool append) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    int fd = open(path.c_str(), flags, 0666);
    return fd >= 0 && writeAndClose(fd, text);
}

bool fileSize(const std::string& path, std::uint64_t& size) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool copyFile(const std::string& from, const std::string& to, bool failIfExists) {
    std::string bytes;
    if (!readBinaryFile(from, bytes)) return false;
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
    struct stat st;
    mode_t mode = stat(from.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
    int fd = open(to.c_str(), flags, mode);
    if (fd < 0) return false;
    const bool ok = writeAndClose(fd, bytes);
    if (!ok) unlink(to.c_str());
    return ok;
}

bool deleteFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool removeTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
    std::vector<std::string> names;
    bool ok = listDirectory(path, names);
    for (const auto& name : names)
        ok = removeTree(path + "/" + name) && ok;
    return rmdir(path.c_str()) == 0 && ok;
}

bool makeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0) return true;
    return fileKind(path) == FileKind::Directory;
}

} // namespace platform

// Processes on Linux: hidden start, enumeration through /proc, forced kill.
#include "VelantoUtil/platform/Platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string baseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isExecutableFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Where the program folder, then the search path, holds the program. A Windows name
// "X.exe" also finds the Linux executable "X".
bool resolveProgram(const std::string& name, std::string& out) {
    std::vector<std::string> names{name};
    std::string native = nativeExecutableName(name);
    if (native != name) names.push_back(native);
    if (name.find('/') != std::string::npos) {
        for (const auto& candidate : names)
            if (isExecutableFile(candidate)) return out = candidate, true;
        return false;
    }
    std::vector<std::string> dirs;
    std::string self;
    if (programPath(self)) dirs.push_back(self.substr(0, self.rfind('/')));
    const char* path = std::getenv("PATH");
    std::string searchPath = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t pos = 0;
    while (pos <= searchPath.size()) {
        size_t end = searchPath.find(':', pos);
        if (end == std::string::npos) end = searchPath.size();
        dirs.push_back(end > pos ? searchPath.substr(pos, end - pos) : std::string("."));
        pos = end + 1;
    }
    for (const auto& dir : dirs)
        for (const auto& candidate : names)
            if (isExecutableFile(dir + "/" + candidate)) return out = dir + "/" + candidate, true;
    return false;
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

// Spawns with the standard streams on /dev/null, no descriptor but those inherited, and
// default signal dispositions. A process that is not waited for gets its own process
// group and a reaper thread, so it never lingers as a zombie.
bool spawn(const std::string& program, const std::vector<std::string>& args, bool wait,
           int* exitCode) {
    std::vector<char*> argv;
    for (const auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (!wait) flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setflags(&attr, flags);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;

    if (!wait) {
        std::thread([pid] {
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
        return true;
    }
    int status = 0;
    pid_t done;
    while ((done = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (exitCode) *exitCode = done == pid ? exitCodeOf(status) : 1;
    return true;
}

bool readFirstArgument(int pid, std::string& out) {
    std::string content;
    if (!readTextFile("/proc/" + std::to_string(pid) + "/cmdline", content)) return false;
    out = content.c_str(); // up to the first NUL
    return !out.empty();
}

} // namespace

std::vector<std::string> splitCommandLine(const std::string& command) {
    std::vector<std::string> args;
    size_t i = 0, n = command.size();
    while (i < n && isBlank(command[i]))
        ++i;
    if (i == n) return args;

    // The program name takes no escapes: quoted up to the next quote, else up to a blank.
    std::string program;
    if (command[i] == '"') {
        ++i;
        while (i < n && command[i] != '"')
            program += command[i++];
        if (i < n) ++i;
    } else {
        while (i < n && !isBlank(command[i]))
            program += command[i++];
    }
    args.push_back(program);

    for (;;) {
        while (i < n && isBlank(command[i]))
            ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n) {
            char c = command[i];
            if (isBlank(c) && !quoted) break;
            if (c == '\\') {
                size_t count = 0;
                while (i < n && command[i] == '\\')
                    ++count, ++i;
                if (i < n && command[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) arg += '"', ++i;
                } else {
                    arg.append(count, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && command[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += c;
                ++i;
            }
        }
        args.push_back(arg);
    }
    return args;
}

bool startProcess(const std::string& command, bool viaShell, bool wait, int* exitCode) {
    if (viaShell) return spawn("/bin/sh", {"/bin/sh", "-c", command}, wait, exitCode);
    std::vector<std::string> args = splitCommandLine(command);
    std::string program;
    if (args.empty() || !resolveProgram(args[0], program)) return false;
    return spawn(program, args, wait, exitCode);
}

std::string nativeExecutableName(const std::string& name) {
    if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0)
        return name.substr(0, name.size() - 4);
    return name;
}

bool listProcesses(std::vector<ProcessEntry>& out) {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    out.clear();
    uid_t me = getuid();
    while (struct dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        std::string dir = std::string("/proc/") + entry->d_name;
        struct stat st;
        if (stat(dir.c_str(), &st) != 0) continue; // ended meanwhile
        ProcessEntry process;
        process.pid = static_cast<int>(pid);
        process.sameUser = st.st_uid == me;
        char target[4096];
        ssize_t n = readlink((dir + "/exe").c_str(), target, sizeof(target) - 1);
        if (n > 0) {
            std::string exe(target, static_cast<size_t>(n));
            static const std::string deleted = " (deleted)";
            if (exe.size() > deleted.size() &&
                exe.compare(exe.size() - deleted.size(), deleted.size(), deleted) == 0)
                exe.resize(exe.size() - deleted.size());
            process.moduleName = baseName(exe);
        }
        std::string first;
        if (readFirstArgument(process.pid, first)) process.imageName = baseName(first);
        out.push_back(process);
    }
    closedir(proc);
    return true;
}

bool forceKill(int pid) {
    return pid > 0 && kill(pid, SIGKILL) == 0;
}

int currentProcessId() {
    return static_cast<int>(getpid());
}

unsigned long currentThreadId() {
    return static_cast<unsigned long>(gettid());
}

bool scheduleFileDeletion(const std::string& path, int delayMs) {
    if (delayMs < 0) delayMs = 0;
    char script[96];
    // The path travels as an argument, never as shell text.
    std::snprintf(script, sizeof(script), "sleep %d.%03d; rm -f -- \"$1\"", delayMs / 1000,
                  delayMs % 1000);
    return spawn("/bin/sh", {"/bin/sh", "-c", script, "sh", path}, false, nullptr);
}

} // namespace platform

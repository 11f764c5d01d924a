// The operating-system layer. Everything above it is written once; each operating system
// realises these operations in its own folder (posix/ on Linux). Texts crossing this
// interface are UTF-8; paths use the platform's own separator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// ---- Folders -------------------------------------------------------------------------

char pathSeparator();
bool isPathSeparator(char c);

// Prefix for every machine-wide path ($VELANTO_ROOT); empty means the real system.
std::string machineRoot();

// Common application data (ProgramData), no trailing separator.
std::string commonAppDataDir();
// The Windows folder, where machine-wide settings files live.
std::string windowsDir();
// The drive-root temporary folder (C:\tmp, %HOMEDRIVE%\tmp), no trailing separator.
std::string driveTmpDir();
// The log base name used when the settings name none (C:\ZmLog.log).
std::string defaultLogBase();
// The user's home folder, ending with a separator (%HOMEDRIVE%%HOMEPATH%\).
std::string homeDir();
// The user's temporary folder, ending with a separator; false when it cannot be had.
bool userTempDir(std::string& out);
// The user's desktop folder (not created); false when it cannot be had.
bool desktopDir(std::string& out);
// The user's documents folder (My Documents); false when it cannot be had.
bool documentsDir(std::string& out);
// The user's application data folder (XDG data home); false when it cannot be had.
bool userDataDir(std::string& out);
// Full path of the running program (for a library: of the program that loaded it).
bool programPath(std::string& out);

// ---- Files ---------------------------------------------------------------------------

enum class FileKind { NotFound, File, Directory, Unknown };
FileKind fileKind(const std::string& path);

// Whole file in text mode: a CR before LF is dropped. False when it cannot be opened.
bool readTextFile(const std::string& path, std::string& out);
// Creates or truncates (append=false) or appends to the file, in text mode, in one write.
bool writeTextFile(const std::string& path, const std::string& text, bool append);
// Whole file as bytes, unchanged.
bool readBinaryFile(const std::string& path, std::string& out);
bool writeBinaryFile(const std::string& path, const std::string& bytes);
bool fileSize(const std::string& path, std::uint64_t& size);
// Copies a file; with failIfExists an existing target makes the copy fail.
bool copyFile(const std::string& from, const std::string& to, bool failIfExists);
bool deleteFile(const std::string& path);
// Removes a folder with everything in it; false when something stayed.
bool removeTree(const std::string& path);
// The names of the entries of a folder (no "." or ".."), unsorted; false when unreadable.
bool listDirectory(const std::string& path, std::vector<std::string>& names);
// One folder level; false when it does not exist afterwards.
bool makeDirectory(const std::string& path);

// ---- Processes -----------------------------------------------------------------------

// Starts a hidden process with no inherited handles. viaShell runs the command through
// the command interpreter; otherwise the line is split into arguments and a bare program
// name is looked up in the program folder first, then in the search path. With wait, the
// exit code is stored in exitCode. False when the process cannot be created.
bool startProcess(const std::string& command, bool viaShell, bool wait, int* exitCode);

// The argument splitting used by the plain form (the rules of CommandLineToArgvW).
std::vector<std::string> splitCommandLine(const std::string& command);

struct ProcessEntry {
    int pid = 0;
    bool sameUser = false;
    std::string moduleName; // base name of the executable image; empty when unreadable
    std::string imageName;  // base name of the first argument, the snapshot's view
};
bool listProcesses(std::vector<ProcessEntry>& out);
// The name a wanted executable carries on this system ("X.exe" is "X" on Linux).
std::string nativeExecutableName(const std::string& name);
bool forceKill(int pid);
int currentProcessId();
unsigned long currentThreadId();

// Deletes the file about delayMs after the caller has gone on, from a detached process.
bool scheduleFileDeletion(const std::string& path, int delayMs);

// ---- Desktop windows -------------------------------------------------------------------

using WindowHandle = std::uintptr_t;
struct TopLevelWindow {
    WindowHandle handle = 0;
    int pid = 0; // 0 when the owner cannot be told
};
// The desktop's top-level windows, bottom of the stacking order first; false (and none)
// without a desktop to ask.
bool enumerateTopLevelWindows(std::vector<TopLevelWindow>& out);
std::string windowTitle(WindowHandle window);
// Puts the window above all others without moving or resizing it.
bool makeWindowTopmost(WindowHandle window);

// ---- Text ----------------------------------------------------------------------------

// A text in the system's narrow (ANSI) code page, as UTF-8.
std::string systemCodePageToUtf8(const std::string& narrow);

// ---- Libraries -----------------------------------------------------------------------

// Loads a library with its own symbols kept local; null on failure (reason in error).
void* loadLibrary(const std::string& path, std::string* error = nullptr);
void* findSymbol(void* library, const char* name);
// False when the library could not be unloaded.
bool freeLibrary(void* library);
// The file name ending of a loadable library (".so"; ".dll" on Windows).
const char* librarySuffix();

// ---- Per-user named mutexes and the system-wide log lock -----------------------------

constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

struct NamedMutex;
// Creates or opens the mutex and waits for it up to timeoutMs; null when not acquired.
NamedMutex* acquireNamedMutex(const std::string& name, std::uint32_t timeoutMs);
void releaseNamedMutex(NamedMutex* mutex);

struct LogLock;
// Opens or creates the lock all programs of all users serialise their log records on.
LogLock* openLogLock();
void closeLogLock(LogLock* lock);
// Serialises threads of this process and processes alike; a null lock still serialises
// the threads of this process.
void acquireLogLock(LogLock* lock);
void releaseLogLock(LogLock* lock);

// ---- Per-user message channels (a program's hidden receiver window) --------------------

constexpr int kChannelMessage = 1;       // bytes: the envelope text with its terminator
constexpr int kChannelSessionChange = 2; // bytes: the session-change code, 4 bytes

struct ChannelFrame {
    int kind = 0;
    std::string bytes;
};

struct ChannelServer;
enum class ChannelOpen { Opened, AlreadyServed, Failed };
// Creates the user's channel of that name; AlreadyServed when a live receiver has it.
ChannelServer* openChannel(const std::string& name, ChannelOpen& outcome);
// Hands each frame from a sender of this user to the handler, one at a time; the sender's
// call returns after the handler has returned. Runs until the channel is closed.
void serveChannel(ChannelServer* channel, const std::function<void(const ChannelFrame&)>& handler);
void closeChannel(ChannelServer* channel);
bool channelExists(const std::string& name);
// Sends one frame and waits until the receiver has handled it; false when there is none.
bool sendChannelFrame(const std::string& name, int kind, const std::string& bytes);

// ---- Crash handling ---------------------------------------------------------------------

struct CrashInfo {
    int signal = 0;
    const void* address = nullptr; // the faulting address
    const void* context = nullptr; // the machine context at the fault
};
using CrashFilter = void (*)(const CrashInfo* info);

// Hands fatal faults (segmentation, bus, illegal instruction, arithmetic, abort) to filter,
// on a stack of its own; once it returns, the fault's default action follows.
bool installCrashFilter(CrashFilter filter);

// What a crash filter may call: each is async-signal-safe.
struct CrashFile {
    char path[512];
};
// The regular files in dir and its subfolders (full paths), at most capacity of them.
int crashListFiles(const char* dir, CrashFile* out, int capacity);
bool crashDeleteFile(const char* path);
void crashSleep(unsigned seconds);
long long crashUnixTime();
// Writes a dump: a header, the signal, the faulting address, the registers and a backtrace.
bool crashWriteDump(const char* path, const CrashInfo* info);

// Feeds the desktop session's lock, unlock and activity changes to the channel as
// session-change frames, on a thread of its own; false when the session manager cannot be
// reached (the channel still takes frames from elsewhere).
bool startSessionWatcher(const std::string& channel);

// Keeps the process out of core dumps and away from other processes' debuggers.
bool markNotDumpable();
// A debugger or tracer is attached to this process.
bool tracerAttached();

// ---- Named events (manual reset, pulsed) ----------------------------------------------

struct NamedEvent;
// Opens the user's event of that name for waiting; null when nobody created it.
NamedEvent* openNamedEvent(const std::string& name);
NamedEvent* createNamedEvent(const std::string& name);
// Waits until the event is pulsed; false when the wait failed.
bool waitNamedEvent(NamedEvent* event);
bool pulseNamedEvent(const std::string& name);
void closeNamedEvent(NamedEvent* event);

// ---- Ports ------------------------------------------------------------------------------

// The TCP sockets of the loopback family, as netstat-style lines:
// "TCP 127.0.0.1:56435 0.0.0.0:0 LISTENING" or "TCP [::1]:56435 [::]:0 LISTENING".
bool listTcpSockets(bool ipv6, std::string& lines);

// Ends the process at once with the exit code.
[[noreturn]] void exitProcess(int code);

// ---- Identity, time, randomness, system facts ----------------------------------------

bool userName(std::string& out);
bool localTimeNow(std::tm& out, unsigned long& millisecond);
// Seconds since 1970 (UTC).
std::int64_t unixTimeNow();
bool randomBytes(void* buffer, std::size_t length);

struct OsVersionFacts {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned build = 0;
    unsigned productType = 0; // 1 = workstation
    unsigned suiteMask = 0;
    int serverR2 = 0; // the SM_SERVERR2 system metric
    unsigned processorArchitecture = 0;
};
// The native version facts; false when the system is not one the descriptor names.
bool readOsVersionFacts(OsVersionFacts& out);

} // namespace platform

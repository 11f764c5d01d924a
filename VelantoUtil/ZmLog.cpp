#include "VelantoUtil/ZmLog.h"

#include "VelantoUtil/platform/Platform.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

namespace {

const char kSection[] = "KestovaQvCAPIVelanto";
constexpr int kNameSize = 128;
constexpr int kHeaderPiece = 256;

const char* const kTags[] = {"", "[FATAL]", "[ERROR]", "[WARN ]", "[INFO ]", "[DEBUG]"};

// Settings and file name state. The base name and size limit change only under the log
// lock, so a writer never reads them half-written.
char gBaseName[kNameSize];
std::atomic<int> gMaxSize{0};
std::atomic<int> gLevel{0};
std::atomic<bool> gInitialised{false};
int gRollIndex = 0; // grows while the process lives; guarded by the log lock
std::atomic<platform::LogLock*> gLock{nullptr};

// fgets over a text already in memory: pieces of at most size - 1 characters, each ending
// after a line feed or where the piece is full.
class PieceReader {
  public:
    explicit PieceReader(const std::string& text) : text_(text) {}
    bool next(int size, std::string& piece) {
        if (pos_ >= text_.size() || size < 2) return false;
        size_t end = pos_;
        while (end < text_.size() && end - pos_ < static_cast<size_t>(size - 1))
            if (text_[end++] == '\n') break;
        piece.assign(text_.c_str() + pos_, end - pos_);
        piece.resize(std::strlen(piece.c_str()));
        pos_ = end;
        return true;
    }

  private:
    const std::string& text_;
    size_t pos_ = 0;
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// "[name]" with blanks allowed around the brackets and inside them.
bool sectionHeader(const std::string& line, std::string& name) {
    size_t first = 0, last = line.size();
    while (first < last && isBlank(line[first]))
        ++first;
    while (last > first && isBlank(line[last - 1]))
        --last;
    if (last - first < 2 || line[first] != '[' || line[last - 1] != ']') return false;
    size_t from = first + 1, to = last - 1;
    while (from < to && isBlank(line[from]))
        ++from;
    while (to > from && isBlank(line[to - 1]))
        --to;
    name = line.substr(from, to - from);
    return true;
}

bool sameIgnoringCase(const std::string& a, const char* b) {
    return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

int readSettingInt(const char* key, int size, const char* path, int fallback, int* code) {
    char value[kNameSize] = {};
    int rc = ZmLogReadValue(key, value, size, path);
    if (code) *code = rc;
    if (rc != kZmLogFound) return fallback;
    long number = std::strtol(value, nullptr, 10);
    if (number > 0x7fffffffL) number = 0x7fffffffL;
    if (number < -0x7fffffffL - 1) number = -0x7fffffffL - 1;
    return static_cast<int>(number);
}

bool hasSeparator(const char* path) {
    return std::strchr(path, '/') != nullptr || std::strchr(path, '\\') != nullptr;
}

// "a.log" -> "a_20240514.log", then "a_20240514_1.log"; the extension is taken from the
// last element of the path only, and a name without one still carries the roll index.
std::string buildFileName(const char* base, const std::tm& now, int roll) {
    std::string name = base;
    size_t lastSeparator = 0;
    for (size_t i = 0; i < name.size(); ++i)
        if (platform::isPathSeparator(name[i]) || name[i] == '\\') lastSeparator = i + 1;
    size_t dot = name.rfind('.');
    bool hasExtension = dot != std::string::npos && dot >= lastSeparator;
    std::string stem = hasExtension ? name.substr(0, dot) : name;
    std::string extension = hasExtension ? name.substr(dot) : std::string();
    char date[64];
    if (roll > 0)
        std::snprintf(date, sizeof(date), "_%04d%02d%02d_%d", now.tm_year + 1900, now.tm_mon + 1,
                      now.tm_mday, roll);
    else
        std::snprintf(date, sizeof(date), "_%04d%02d%02d", now.tm_year + 1900, now.tm_mon + 1,
                      now.tm_mday);
    std::string result = stem + date + extension;
    if (result.size() > kNameSize - 1) result.resize(kNameSize - 1);
    return result;
}

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), format, args);
    out.resize(static_cast<size_t>(n));
    return out;
}

} // namespace

int ZmLogReadValue(const char* key, char* out, int size, const char* path) {
    if (!key || !out || size < 2 || !path) return kZmLogNoKey;
    std::string content;
    if (!platform::readTextFile(path, content)) return kZmLogNoFile;

    PieceReader reader(content);
    std::string piece, name;
    bool inSection = false;
    while (reader.next(kHeaderPiece, piece)) {
        if (sectionHeader(piece, name) && sameIgnoringCase(name, kSection)) {
            inSection = true;
            break;
        }
    }
    if (!inSection) return kZmLogNoSection;

    while (reader.next(size, piece)) {
        if (sectionHeader(piece, name)) break;
        if (piece.empty() || piece[0] == ';') continue;
        size_t equals = piece.find('=');
        if (equals == std::string::npos || !sameIgnoringCase(piece.substr(0, equals), key))
            continue;
        std::string value = piece.substr(equals + 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n'))
            value.pop_back();
        size_t start = 0;
        while (start < value.size() && (value[start] == ' ' || value[start] == '\t'))
            ++start;
        value.erase(0, start);
        if (!value.empty() && (value[0] == '"' || value[0] == '\'')) {
            size_t closing = value.rfind(value[0]);
            value = closing > 0 ? value.substr(1, closing - 1) : value.substr(1);
        }
        std::snprintf(out, static_cast<size_t>(size), "%s", value.c_str());
        return kZmLogFound;
    }
    return kZmLogNoKey;
}

int ZmLogInit(const char* path) {
    if (gInitialised.load()) return -1;
    if (!path) return kZmLogNoKey;

    std::string settings = path;
    char value[kNameSize];
    if (!hasSeparator(path)) {
        const std::string sep(1, platform::pathSeparator());
        const std::string candidates[] = {platform::windowsDir() + sep + path,
                                          platform::homeDir() + path,
                                          platform::driveTmpDir() + sep + path};
        for (const auto& candidate : candidates) {
            settings = candidate;
            if (ZmLogReadValue("Log File", value, kNameSize, candidate.c_str()) == kZmLogFound)
                break;
        }
    }

    std::string base;
    if (ZmLogReadValue("Log File", value, kNameSize, settings.c_str()) == kZmLogFound)
        base = value;
    else
        base = platform::defaultLogBase();
    int maxSize = readSettingInt("Log MaxSize", 64, settings.c_str(), 0, nullptr);
    int code = kZmLogNoKey;
    int level = readSettingInt("Log Level", 16, settings.c_str(), 0, &code);

    ZmLogAcquire();
    std::snprintf(gBaseName, sizeof(gBaseName), "%s", base.c_str());
    gMaxSize.store(maxSize);
    ZmLogRelease();
    gLevel.store(level);
    if (code == kZmLogFound) {
        gInitialised.store(true);
        ZmLogPrint(level, nullptr, "Log Enable '%s'", settings.c_str());
    }
    ZmLogOpenMutex();
    return code;
}

void ZmLogFileName(char* fileName, char* timeStamp) {
    std::tm now{};
    unsigned long millisecond = 0;
    if (!platform::localTimeNow(now, millisecond)) now.tm_mday = 1;
    std::snprintf(timeStamp, kNameSize, "%d-%02d-%02d %02d:%02d:%02d.%03lu", now.tm_year + 1900,
                  now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec, millisecond);

    std::string name = buildFileName(gBaseName, now, gRollIndex);
    int limit = gMaxSize.load();
    std::uint64_t size = 0;
    while (limit > 0 && platform::fileSize(name, size) &&
           size > static_cast<std::uint64_t>(limit)) {
        std::string next = buildFileName(gBaseName, now, ++gRollIndex);
        if (next == name) break; // cut at the name limit: rolling cannot help
        name = next;
    }
    std::snprintf(fileName, kNameSize, "%s", name.c_str());
}

void ZmLogWrite(int level, const char* format, va_list args) {
    char fileName[kNameSize], timeStamp[kNameSize];
    ZmLogFileName(fileName, timeStamp);
    const char* tag = (level >= 0 && level <= 5) ? kTags[level] : "";
    char head[kNameSize + 64];
    std::snprintf(head, sizeof(head), "%s %s [%05lu-%05lu] ", timeStamp, tag,
                  static_cast<unsigned long>(platform::currentProcessId()) % 100000UL,
                  platform::currentThreadId() % 100000UL);
    // One write per record, so records stay whole lines even between writers that
    // could not take the lock.
    std::string record = head + vformat(format ? format : "", args) + "\n";
    platform::writeTextFile(fileName, record, true);
}

int ZmLogPrint(int level, const char*, const char* format, ...) {
    if (level > gLevel.load(std::memory_order_relaxed)) return -2;
    if (!gLock.load()) ZmLogOpenMutex();
    platform::LogLock* lock = gLock.load();
    platform::acquireLogLock(lock);
    va_list args;
    va_start(args, format);
    ZmLogWrite(level, format, args);
    va_end(args);
    platform::releaseLogLock(lock);
    return 0;
}

bool ZmLogOpenMutex() {
    platform::LogLock* lock = platform::openLogLock();
    gLock.store(lock);
    return lock != nullptr;
}

void ZmLogAcquire() {
    platform::acquireLogLock(gLock.load());
}
void ZmLogRelease() {
    platform::releaseLogLock(gLock.load());
}

void ZmLogStop() {
    gInitialised.store(false);
    gLevel.store(0);
    platform::closeLogLock(gLock.load());
    ZmLogOpenMutex();
}

bool ZmLogIsInitialised() {
    return gInitialised.load();
}
int ZmLogConfiguredLevel() {
    return gLevel.load();
}

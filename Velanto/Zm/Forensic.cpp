#include "Velanto/Zm/Forensic.h"

#include "VelantoUtil/Tool.h"

#include <fmt/core.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace Zm::OS::Win32 {

namespace {

std::string narrow(const std::wstring& text) {
    char* converted = wideToNarrow(text.c_str());
    std::string out = converted ? converted : "";
    std::free(converted);
    return out;
}

const char* baseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/') name = p + 1;
    return name;
}

} // namespace

Utility::LibraryLoader::LibraryLoader(const std::wstring& path, unsigned long) {
    std::string error;
    module_ = platform::loadLibrary(narrow(path), &error);
    if (!module_)
        throw std::runtime_error(fmt::format(
            "Failed to load library. Library = {}, Error code = {}", narrow(path), error));
}

Utility::LibraryLoader::~LibraryLoader() {
    platform::freeLibrary(module_);
}

std::wstring getSystemFolder() {
    return L"/usr/lib";
}

std::wstring utf8ToWide(const std::string& text) {
    wchar_t* wide = narrowToWide(text.c_str());
    if (!wide) throw std::runtime_error(fmt::format("Conversion Failed. Error code = {:#08x}", 8));
    std::wstring out = wide;
    std::free(wide);
    return out;
}

namespace Forensic {

void Detail::ExceptionHandler::install(std::unique_ptr<IHandler> handler) {
    std::lock_guard<std::mutex> guard(mutex_);
    handler_ = std::move(handler);
    if (handler_) handler_->install();
}

void Detail::ExceptionHandler::registerCallback(std::unique_ptr<IExceptionCallBack> callback,
                                                Kind kind) {
    std::lock_guard<std::mutex> guard(mutex_);
    callbacks_.emplace_back();
    callbacks_.back().object = std::move(callback);
    callbacks_.back().kind.store(kind);
}

// Runs in the crashing thread's signal context: nothing here allocates, frees or locks.
// Each entry is claimed by an exchange, so a second run (another fault) finds it empty.
void Detail::ExceptionHandler::filter(const platform::CrashInfo* info) {
    ExceptionHandler& handler = instance();
    for (auto entry = handler.callbacks_.rbegin(); entry != handler.callbacks_.rend(); ++entry) {
        const unsigned char kind = entry->kind.exchange(Empty);
        if (kind == WithInfo)
            entry->object->call(info);
        else if (kind == WithoutInfo)
            entry->object->call(nullptr);
    }
}

void Detail::ExceptionHandler::UEF::install() {
    if (!platform::installCrashFilter(&ExceptionHandler::filter))
        throw std::runtime_error(fmt::format("Failed to load API. API = {}, Error code = {}",
                                             "sigaction", "installation refused"));
}

CrashDumpCallBack::CrashDumpCallBack(unsigned kept, const std::wstring& folder,
                                     const std::string& prefix)
    : kept_(kept) {
    // Fixed buffers, filled now: the crash handler may not allocate.
    std::snprintf(folder_, sizeof(folder_), "%s", narrow(folder).c_str());
    std::snprintf(prefix_, sizeof(prefix_), "%s", prefix.c_str());
}

// "{}[0-9]{{10}}.dmp" over the file name: the prefix, ten digits, any character, "dmp".
bool CrashDumpCallBack::matchesOldDump(const char* path) const {
    const char* name = baseName(path);
    const size_t prefixLength = std::strlen(prefix_);
    if (std::strncmp(name, prefix_, prefixLength) != 0) return false;
    const char* rest = name + prefixLength;
    for (int i = 0; i < 10; ++i)
        if (rest[i] < '0' || rest[i] > '9') return false;
    return rest[10] != '\0' && std::strcmp(rest + 11, "dmp") == 0;
}

void CrashDumpCallBack::call(const platform::CrashInfo* info) {
    // Make room: the oldest old dumps go first (their names differ only in the seconds).
    static platform::CrashFile files[256];
    static int order[256];
    const int listed = platform::crashListFiles(folder_, files, 256);
    int matches = 0;
    for (int i = 0; i < listed; ++i)
        if (matchesOldDump(files[i].path)) order[matches++] = i;
    for (int i = 1; i < matches; ++i)
        for (int j = i; j > 0 && std::strcmp(files[order[j - 1]].path, files[order[j]].path) > 0;
             --j)
            std::swap(order[j - 1], order[j]);
    if (kept_ > 0 && static_cast<unsigned>(matches) >= kept_) {
        const unsigned excess = static_cast<unsigned>(matches) - kept_ + 1;
        for (unsigned i = 0; i < excess; ++i) {
            Core::Retry::Linear<2, 2> retry;
            while (!platform::crashDeleteFile(files[order[i]].path)) {
                if (!retry.attempt()) return; // retries used up: no dump
                platform::crashSleep(static_cast<unsigned>(retry.delay().count()));
            }
        }
    }
    // "{}{}.dmp": the folder joined with the prefix, then the seconds.
    char path[sizeof(folder_) + sizeof(prefix_) + 32];
    long long seconds = platform::crashUnixTime();
    char digits[24];
    int at = 23;
    digits[at] = '\0';
    do {
        digits[--at] = static_cast<char>('0' + seconds % 10);
        seconds /= 10;
    } while (seconds > 0);
    const size_t folderLength = std::strlen(folder_), prefixLength = std::strlen(prefix_);
    const size_t digitsLength = std::strlen(digits + at);
    if (folderLength + 1 + prefixLength + digitsLength + 5 > sizeof(path)) return;
    char* p = path;
    std::memcpy(p, folder_, folderLength);
    p += folderLength;
    *p++ = '/';
    std::memcpy(p, prefix_, prefixLength);
    p += prefixLength;
    std::memcpy(p, digits + at, digitsLength);
    p += digitsLength;
    std::memcpy(p, ".dmp", 5);
    platform::crashWriteDump(path, info);
}

} // namespace Forensic

} // namespace Zm::OS::Win32

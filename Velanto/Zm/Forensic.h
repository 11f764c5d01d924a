// Crash forensics: a process-wide crash handler that runs registered callbacks once, and the
// callback that leaves a dump in a fixed folder, keeping only the newest few.
#pragma once

#include "Velanto/Zm/Core.h"
#include "VelantoUtil/platform/Platform.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace Zm::OS::Win32 {

namespace Utility {

// Owns a loaded library; throws "Failed to load library. Library = {}, Error code = {}".
class LibraryLoader {
  public:
    LibraryLoader(const std::wstring& path, unsigned long flags);
    ~LibraryLoader();
    LibraryLoader(const LibraryLoader&) = delete;
    LibraryLoader& operator=(const LibraryLoader&) = delete;
    void* handle() const { return module_; }

  private:
    void* module_ = nullptr;
};

} // namespace Utility

// The system folder ("/usr/lib" here).
std::wstring getSystemFolder();
// Throws "Conversion Failed. Error code = {:#08x}" when the text cannot be converted.
std::wstring utf8ToWide(const std::string& text);

namespace Forensic {

namespace Detail {

class IHandler {
  public:
    virtual ~IHandler() = default;
    virtual void install() = 0;
};

class IExceptionCallBack {
  public:
    virtual ~IExceptionCallBack() = default;
    // Runs inside the crash handler: only async-signal-safe work.
    virtual void call(const platform::CrashInfo* info) = 0;
};

class ExceptionHandler : public Core::Singleton<ExceptionHandler> {
  public:
    enum Kind : unsigned char { WithoutInfo = 0, WithInfo = 1, Empty = 255 };

    // Replaces the installed handler and installs it.
    void install(std::unique_ptr<IHandler> handler);
    void registerCallback(std::unique_ptr<IExceptionCallBack> callback, Kind kind);
    // The crash filter: runs each callback once, newest first.
    static void filter(const platform::CrashInfo* info);

  private:
    friend class Core::Singleton<ExceptionHandler>;
    ExceptionHandler() = default;

    struct Entry {
        std::unique_ptr<IExceptionCallBack> object;
        std::atomic<unsigned char> kind;
    };
    std::unique_ptr<IHandler> handler_;
    std::deque<Entry> callbacks_;
    std::mutex mutex_;

  public:
    // Installs the process's crash filter (the fatal-signal handler here).
    class UEF : public IHandler {
      public:
        void install() override;
    };
};

} // namespace Detail

// Writes one dump per crash as <folder>/<prefix><seconds>.dmp, keeping `kept` dumps.
class CrashDumpCallBack : public Detail::IExceptionCallBack {
  public:
    CrashDumpCallBack(unsigned kept, const std::wstring& folder, const std::string& prefix);
    void call(const platform::CrashInfo* info) override;

  private:
    bool matchesOldDump(const char* path) const;
    char folder_[400];
    char prefix_[96];
    unsigned kept_;
};

} // namespace Forensic

} // namespace Zm::OS::Win32

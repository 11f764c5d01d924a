#include "VelantoSession/TopmostWindow.h"

#include "VelantoUtil/Log.h"
#include "VelantoUtil/platform/Platform.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

int targetProcess = 0;
bool allProcesses = false;
platform::WindowHandle* WNDList = nullptr;
std::uint32_t count = 0;
std::uint32_t WNDListSize = 256;
int phase = 1;
std::atomic<bool> stopFlag{false};
std::thread watchThread;

// One visit of one window; false stops the enumeration.
bool visit(const platform::TopLevelWindow& window) {
    if (!allProcesses && window.pid != targetProcess) return true;
    if (count == WNDListSize) {
        auto* grown = static_cast<platform::WindowHandle*>(
            std::realloc(WNDList, sizeof(platform::WindowHandle) * WNDListSize * 2));
        if (!grown) {
            logError("Resizing WNDListSize failed", nullptr);
            return false;
        }
        WNDList = grown;
        WNDListSize *= 2;
        logNormalInt("Resize WNDListSize to ", static_cast<int>(WNDListSize));
    }
    if (phase == 2) {
        for (std::uint32_t i = 0; i < count; ++i)
            if (WNDList[i] == window.handle) return true;
        const std::string title = platform::windowTitle(window.handle);
        if (title != "MSCTFIME UI" && title != "Default IME") {
            logNormal("Set UI top: ", title.c_str());
            platform::makeWindowTopmost(window.handle);
            logNormal("Set UI top: ", "Complete");
        }
    }
    WNDList[count++] = window.handle;
    return true;
}

void enumerate() {
    std::vector<platform::TopLevelWindow> windows;
    platform::enumerateTopLevelWindows(windows);
    for (const auto& window : windows)
        if (!visit(window)) break;
}

void watch() {
    phase = 2;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (stopFlag.load()) break;
        enumerate();
        if (stopFlag.load()) break;
    }
}

} // namespace

void startTopmostWatch(int processId, bool all) {
    if (watchThread.joinable()) stopTopmostWatch(); // one watch at a time
    targetProcess = processId;
    allProcesses = all;
    WNDList = static_cast<platform::WindowHandle*>(
        std::calloc(WNDListSize, sizeof(platform::WindowHandle)));
    count = 0;
    phase = 1;
    if (!WNDList) {
        REPORT_ALLOC_FAIL();
        return;
    }
    enumerate();
    stopFlag.store(false);
    watchThread = std::thread(watch);
}

void stopTopmostWatch() {
    stopFlag.exchange(true);
    if (watchThread.joinable()) watchThread.join();
    std::free(WNDList);
    WNDList = nullptr;
    count = 0;
    allProcesses = false;
}

std::uint32_t topmostListSize() {
    return WNDListSize;
}

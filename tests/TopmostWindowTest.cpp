// Raising the windows that appear during an adapter call. The TopmostWatchX tests need an
// X display and run under Xvfb (see CMakeLists.txt); the others run anywhere.
#include "LogCapture.h"
#include "Sandbox.h"
#include "VelantoSession/TopmostWindow.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace testsupport;

namespace {

int helpers = 0;

// Opens windows in a helper process; returns their handles once they are mapped.
std::vector<platform::WindowHandle> openWindows(const std::string& title, int pid, bool lower,
                                                int count = 1) {
    const std::string ready = sandboxDir() + "/ready" + std::to_string(helpers++);
    hideNOWaitCommand(wide("velanto_window_helper " + ready + " 4000 " + std::to_string(pid) + " " +
                           (lower ? "1" : "0") + " " + std::to_string(count) + " \"" + title + "\"")
                          .c_str());
    std::vector<platform::WindowHandle> handles;
    if (!waitFor([&] { return exists(ready); }, 5000)) return handles;
    for (const auto& line : lines(readFile(ready)))
        handles.push_back(std::stoull(line));
    return handles;
}

long stackingIndex(platform::WindowHandle window) {
    std::vector<platform::TopLevelWindow> windows;
    platform::enumerateTopLevelWindows(windows);
    for (size_t i = 0; i < windows.size(); ++i)
        if (windows[i].handle == window) return static_cast<long>(i);
    return -1;
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

TEST(TopmostWatch, WithoutADisplayFindsNothing) {
    unsetenv("DISPLAY");
    std::vector<platform::TopLevelWindow> windows;
    EXPECT_FALSE(platform::enumerateTopLevelWindows(windows));
    EXPECT_TRUE(windows.empty());
    startTopmostWatch(getpid(), true);
    sleepMs(400);
    stopTopmostWatch();
    EXPECT_EQ(topmostListSize(), 256u);
}

TEST(TopmostWatchX, RaisesNewWindowsOfItsOwnProcessOnce) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr);
    LogCapture log;
    const int self = getpid();
    auto existing = openWindows("Existing window", self, false);
    ASSERT_EQ(existing.size(), 1u);
    startTopmostWatch(self, false);
    auto dialog = openWindows("Component dialog", self, true);
    auto ime = openWindows("Default IME", self, true);
    auto foreign = openWindows("Foreign window", 999999, true);
    ASSERT_EQ(dialog.size(), 1u);
    sleepMs(1000);
    stopTopmostWatch();

    const std::string text = log.text();
    EXPECT_EQ(countOf(text, "Set UI top: Component dialog\n"), 1);
    EXPECT_EQ(countOf(text, "Set UI top: Existing window\n"), 0);
    EXPECT_EQ(countOf(text, "Set UI top: Default IME\n"), 0);
    EXPECT_EQ(countOf(text, "Set UI top: Foreign window\n"), 0);
    // Lowered when it appeared, raised by the watch; the other window stays below.
    EXPECT_GT(stackingIndex(dialog[0]), stackingIndex(existing[0]));
    EXPECT_LT(stackingIndex(foreign[0]), stackingIndex(existing[0]));
}

TEST(TopmostWatchX, AllProcessesModeRaisesOtherProgramsWindows) {
    LogCapture log;
    startTopmostWatch(getpid(), true);
    auto other = openWindows("Other program", 999998, true);
    ASSERT_EQ(other.size(), 1u);
    sleepMs(1000);
    stopTopmostWatch();
    EXPECT_EQ(countOf(log.text(), "Set UI top: Other program\n"), 1);
}

TEST(TopmostWatchX, ManyWindowsGrowTheList) {
    LogCapture log;
    auto many = openWindows("Many", getpid(), false, 300);
    ASSERT_EQ(many.size(), 300u);
    startTopmostWatch(getpid(), false);
    stopTopmostWatch();
    EXPECT_TRUE(log.contains("[T][Normal] Resize WNDListSize to 512\n"));
    EXPECT_EQ(topmostListSize(), 512u);
    startTopmostWatch(getpid(), false); // the next watch starts with 512
    stopTopmostWatch();
    EXPECT_EQ(countOf(log.text(), "Resize WNDListSize to "), 1);
}

// Platform realisations that the logic above relies on.
#include "Sandbox.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace testsupport;

TEST(Platform, CommandLineSplitting) {
    struct Case {
        const char* line;
        std::vector<std::string> args;
    } cases[] = {
        {"prog a b", {"prog", "a", "b"}},
        {"  prog   a\t b  ", {"prog", "a", "b"}},
        {"\"C:\\Program Files\\x.exe\" -start", {"C:\\Program Files\\x.exe", "-start"}},
        {"prog \"a b\" c", {"prog", "a b", "c"}},
        {"prog a\\\\b", {"prog", "a\\\\b"}},       // backslashes alone stay
        {"prog a\\\"b", {"prog", "a\"b"}},         // odd: escaped quote
        {"prog a\\\\\"b c\"", {"prog", "a\\b c"}}, // even: halved, quote opens
        {"prog \"a\"\"b\"", {"prog", "a\"b"}},     // doubled quote inside quotes
        {"prog \"\"", {"prog", ""}},
        {"prog \"unterminated arg", {"prog", "unterminated arg"}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::splitCommandLine(c.line), c.args) << c.line;
}

TEST(Platform, FoldersFollowTheMachineRoot) {
    EXPECT_EQ(platform::machineRoot(), rootDir());
    EXPECT_EQ(platform::windowsDir(), rootDir() + "/etc");
    EXPECT_EQ(platform::driveTmpDir(), rootDir() + "/tmp");
    EXPECT_EQ(platform::defaultLogBase(), rootDir() + "/tmp/ZmLog.log");
    EXPECT_EQ(platform::homeDir(), homeDir() + "/");
    setenv("VELANTO_ROOT", "", 1);
    EXPECT_EQ(platform::commonAppDataDir(), "/var/lib");
    EXPECT_EQ(platform::nativeExecutableName("KestovaQvCAPIVelanto.EXE"), "KestovaQvCAPIVelanto");
    EXPECT_EQ(platform::nativeExecutableName(".exe"), ".exe");
}

TEST(Platform, UserMutexFilesArePrivateToTheUser) {
    UserMutex mutex = lockUserMutex("Name/With\\Separators", 0);
    ASSERT_NE(mutex, nullptr);
    std::string user;
    platform::userName(user);
    const std::string file = runtimeDir() + "/velanto/" + user + "_Name_With_Separators.lock";
    EXPECT_TRUE(exists(file)) << file;
    struct stat st;
    ASSERT_EQ(stat((runtimeDir() + "/velanto").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    unlockUserMutex(mutex);

    // Without a runtime folder the mutexes live under the machine's tmp folder.
    unsetenv("XDG_RUNTIME_DIR");
    mutex = lockUserMutex("Fallback", 0);
    ASSERT_NE(mutex, nullptr);
    EXPECT_TRUE(exists(rootDir() + "/tmp/velanto-" + std::to_string(getuid()) + "/" + user +
                       "_Fallback.lock"));
    unlockUserMutex(mutex);
}

TEST(Platform, LogLockFileIsSharedByAllUsers) {
    platform::LogLock* lock = platform::openLogLock();
    ASSERT_NE(lock, nullptr);
    platform::acquireLogLock(lock);
    platform::releaseLogLock(lock);
    struct stat st;
    ASSERT_EQ(stat((rootDir() + "/tmp/.ZmLog.lock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);
    platform::closeLogLock(lock);
    platform::acquireLogLock(lock); // closed: still serialises this process's threads
    platform::releaseLogLock(lock);
}

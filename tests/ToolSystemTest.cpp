// Folders, files, time, randomness, version detection, processes and per-user mutexes.
#include "Sandbox.h"
#include "VelantoUtil/Tool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>

using namespace testsupport;

namespace {

std::string narrow(const wchar_t* text) {
    auto converted = heap(wideToNarrow(text));
    return converted ? std::string(converted.get()) : std::string("<null>");
}

std::tm makeTm(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

// A copy of the helper under a name no other test uses, so name-based search and kill
// touch only this test's processes.
std::string uniqueHelperCopy(const std::string& stem) {
    std::string name = stem + std::to_string(getpid());
    std::string path = sandboxDir() + "/" + name;
    std::filesystem::copy_file(helperPath(), path);
    return path;
}

} // namespace

TEST(Folders, MachineAndUserFolders) {
    EXPECT_EQ(narrow(heap(getCopyPath("KestovaQvCAPIVelanto")).get()),
              rootDir() + "/var/lib/KestovaQvCAPIVelanto");
    EXPECT_EQ(narrow(heap(getStoredCopyPath()).get()), rootDir() + "/var/lib/KestovaQvCAPIVelanto");
    EXPECT_EQ(narrow(heap(getCopyPath(nullptr)).get()), rootDir() + "/var/lib/");
    EXPECT_EQ(narrow(heap(getUserTempPath()).get()), tmpDir() + "/");
    EXPECT_EQ(narrow(heap(getExeDirectory()).get()), binDir());

    unsetenv("TMPDIR");
    EXPECT_EQ(narrow(heap(getUserTempPath()).get()), "/tmp/");
}

TEST(Folders, DesktopLookupOrder) {
    EXPECT_EQ(std::string(heap(getDesktopPath()).get()), homeDir() + "/Desktop");

    makeDirs(homeDir() + "/.config");
    writeFile(homeDir() + "/.config/user-dirs.dirs",
              "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
    EXPECT_EQ(std::string(heap(getDesktopPath()).get()), homeDir() + "/Bureau");

    setenv("XDG_DESKTOP_DIR", "/srv/desk", 1);
    EXPECT_EQ(std::string(heap(getDesktopPath()).get()), "/srv/desk");
    EXPECT_EQ(narrow(heap(getDesktopPathWide()).get()), "/srv/desk");
}

TEST(Files, ExistenceAndDirectories) {
    const std::string base = sandboxDir() + "/a/b/c";
    makeDirectories(wide(base + "/").c_str());
    EXPECT_TRUE(std::filesystem::is_directory(base));
    makeDirectories(wide(sandboxDir() + "/x/y/last").c_str());
    EXPECT_TRUE(std::filesystem::is_directory(sandboxDir() + "/x/y"));
    EXPECT_FALSE(exists(sandboxDir() + "/x/y/last")); // no trailing separator: not created
    EXPECT_TRUE(makeDirectories(nullptr));

    writeFile(base + "/file.txt", "x");
    EXPECT_TRUE(isFileExist(wide(base + "/file.txt").c_str()));
    EXPECT_FALSE(isFileExist(wide(base).c_str())); // a folder is not a file
    EXPECT_FALSE(isFileExist(wide(base + "/none").c_str()));
    EXPECT_FALSE(isFileExist(wide(base + "/file.txt/below").c_str()));
    EXPECT_FALSE(isFileExist(static_cast<const wchar_t*>(nullptr)));
}

TEST(Files, ReadAndWriteText) {
    const std::string path = sandboxDir() + "/text.txt";
    writeFile(path, "line one\r\nline two\r\nbare\rcr\n");
    EXPECT_STREQ(heap(readTextFile(wide(path).c_str())).get(), "line one\nline two\nbare\rcr\n");

    std::string longLine(5000, 'x');
    ASSERT_TRUE(writeTextFile(wide(path).c_str(), (longLine + "\nend").c_str()));
    EXPECT_EQ(readFile(path), longLine + "\nend");
    EXPECT_STREQ(heap(readTextFile(wide(path).c_str())).get(), (longLine + "\nend").c_str());

    writeFile(path, "");
    EXPECT_EQ(readTextFile(wide(path).c_str()), nullptr);
    EXPECT_EQ(readTextFile(wide(path + ".missing").c_str()), nullptr);
    EXPECT_EQ(readTextFile(static_cast<const wchar_t*>(nullptr)), nullptr);

    EXPECT_FALSE(writeTextFile(nullptr, "x"));
    EXPECT_FALSE(writeTextFile(L"", "x"));
    EXPECT_FALSE(writeTextFile(wide(path).c_str(), nullptr));
    EXPECT_FALSE(writeTextFile(wide(sandboxDir() + "/no/such/dir/f").c_str(), "x"));
}

TEST(Files, AppendCertHeaderInWorkingFolder) {
    ASSERT_EQ(chdir(sandboxDir().c_str()), 0);
    EXPECT_TRUE(appendCertHeader("const unsigned char a[] = {0x01};\n"));
    EXPECT_TRUE(appendCertHeader("const unsigned char b[] = {0x02};\n"));
    EXPECT_FALSE(appendCertHeader(nullptr));
    EXPECT_EQ(readFile(sandboxDir() + "/Cert.h"),
              "const unsigned char a[] = {0x01};\nconst unsigned char b[] = {0x02};\n");
}

TEST(Time, TimeValueFormula) {
    // 2024 is a leap year by the rule applied to tm_year (124).
    EXPECT_EQ(timeValueFromTm(makeTm(2024, 5, 14, 9, 5, 3)),
              9ull * 31622400 + ((14ull * 24 + 9) * 60 + 5) * 60 + 3);
    EXPECT_EQ(timeValueFromTm(makeTm(2023, 1, 1, 0, 0, 0)), 8ull * 31536000 + 86400);
    // The month does not enter the value: it steps back at the start of a month.
    EXPECT_GT(timeValueFromTm(makeTm(2024, 5, 31, 23, 59, 59)),
              timeValueFromTm(makeTm(2024, 6, 1, 0, 0, 1)));
    // tm_year 200 (year 2100) is not a leap year.
    EXPECT_EQ(timeValueFromTm(makeTm(2100, 1, 0, 0, 0, 0)), 85ull * 31536000);
}

TEST(Time, TextsAndNow) {
    std::string text = heap(getTimeText()).get();
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d{2}-\d{2} \d{2}-\d{2}-\d{2})")))
        << text;

    std::uint64_t before = getTimeValue();
    std::string hex = heap(getTimeValueText()).get();
    std::uint64_t after = getTimeValue();
    EXPECT_TRUE(std::regex_match(hex, std::regex("[0-9a-f]+"))) << hex;
    EXPECT_NE(hex[0], '0');
    std::uint64_t value = std::stoull(hex, nullptr, 16);
    EXPECT_GE(value, before);
    EXPECT_LE(value, after);
}

TEST(Random, SessionIdsAndBytes) {
    std::set<std::string> ids;
    for (int i = 0; i < 200; ++i) {
        std::string id = heap(genSessionId()).get();
        EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-Z]{8}_SID"))) << id;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 200u);

    unsigned char a[32] = {}, b[32] = {};
    EXPECT_TRUE(genRandom(a, sizeof(a)));
    EXPECT_TRUE(genRandom(b, sizeof(b)));
    EXPECT_NE(std::string(reinterpret_cast<char*>(a), 32),
              std::string(reinterpret_cast<char*>(b), 32));
    EXPECT_FALSE(genRandom(nullptr, 8));
}

TEST(OsDescriptor, MappingTable) {
    const unsigned ws = 1, server = 3, amd64 = 9, x86 = 0, ia64 = 6, arm64 = 12;
    struct Case {
        unsigned major, minor, build, productType, suite;
        int serverR2;
        unsigned arch;
        std::uint32_t expected;
        const char* name;
    } cases[] = {
        {5, 1, 2600, ws, 0, 0, x86, 0x1 | 0x100000, "WindowsXP"},
        {5, 2, 3790, ws, 0, 0, amd64, 0x2 | 0x200000, "WindowsXPx64"},
        {5, 2, 3790, server, 0, 0, x86, 0x4 | 0x100000, "WindowsServer2003"},
        {5, 2, 3790, server, 0x8000, 1, x86, 0x8 | 0x100000, "WindowsHomeServer"},
        {5, 2, 3790, server, 0, 1, amd64, 0x10 | 0x200000, "WindowsServer2003R2"},
        {5, 2, 3790, ws, 0, 0, ia64, 0x4 | 0x200000, "WindowsServer2003"},
        {6, 0, 6000, ws, 0, 0, x86, 0x20 | 0x100000, "WindowsVista"},
        {6, 0, 6000, server, 0, 0, amd64, 0x40 | 0x200000, "WindowsServer2008"},
        {6, 1, 7600, server, 0, 0, amd64, 0x80 | 0x200000, "WindowsServer2008R2"},
        {6, 1, 7600, ws, 0, 0, amd64, 0x100 | 0x200000, "Windows7"},
        {6, 2, 9200, server, 0, 0, amd64, 0x200 | 0x200000, "WindowsServer2012"},
        {6, 2, 9200, ws, 0, 0, x86, 0x400 | 0x100000, "Windows8"},
        {6, 3, 9600, server, 0, 0, amd64, 0x800 | 0x200000, "WindowsServer2012R2"},
        {6, 3, 9600, ws, 0, 0, amd64, 0x1000 | 0x200000, "Windows8.1"},
        {10, 0, 17763, server, 0, 0, amd64, 0x2000 | 0x200000, "WindowsServer2016"},
        {10, 0, 21999, ws, 0, 0, amd64, 0x4000 | 0x200000, "Windows10"},
        {10, 0, 22000, ws, 0, 0, amd64, 0x8000 | 0x200000, "Windows11"},
        {10, 0, 22631, ws, 0, 0, arm64, 0x8000 | 0x100000, "Windows11"},
        {5, 0, 2195, ws, 0, 0, x86, 0, "UnknowOS"},
        {6, 4, 9841, ws, 0, 0, amd64, 0, "UnknowOS"},
        {11, 0, 30000, ws, 0, 0, amd64, 0, "UnknowOS"},
    };
    for (const auto& c : cases) {
        platform::OsVersionFacts facts;
        facts.major = c.major;
        facts.minor = c.minor;
        facts.build = c.build;
        facts.productType = c.productType;
        facts.suiteMask = c.suite;
        facts.serverR2 = c.serverR2;
        facts.processorArchitecture = c.arch;
        std::uint32_t descriptor = osDescriptorFromFacts(facts);
        EXPECT_EQ(descriptor, c.expected) << c.name << " " << c.major << "." << c.minor;
        EXPECT_STREQ(heap(getOsName(descriptor)).get(), c.name);
    }
    EXPECT_STREQ(heap(getOsName(0x1 | 0x4000)).get(), "WindowsXP"); // lowest bit names it
    EXPECT_STREQ(heap(getOsName(0x200000)).get(), "UnknowOS");
    EXPECT_EQ(getOsDescriptor(), 0u); // Linux is none of them
}

TEST(Processes, HideWaitCommandExitCodes) {
    struct Case {
        std::string command;
        bool viaShell;
        int expected;
    } cases[] = {
        {"exit 5", true, 5},
        {"true", true, 0},
        {"velanto_test_helper exit 7", false, 7}, // found in the program folder first
        {"velanto_test_helper.exe exit 9", false, 9},
        {"\"" + helperPath() + "\" exit 3", false, 3},
        {"sh -c \"exit 4\"", false, 4},        // search path, quoted argument
        {"no-such-program-velanto", false, 0}, // cannot be created
        {"", false, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hideWaitCommand(wide(c.command).c_str(), c.viaShell), c.expected) << c.command;
    EXPECT_EQ(hideWaitCommand(nullptr, true), 1);

    const std::string target = sandboxDir() + "/redirected.txt";
    EXPECT_EQ(hideWaitCommand(wide("echo hello > '" + target + "'").c_str(), true), 0);
    EXPECT_EQ(readFile(target), "hello\n");
}

TEST(Processes, NoWaitCommandRunsDetached) {
    const std::string marker = sandboxDir() + "/touched";
    hideNOWaitCommand(wide("velanto_test_helper touch " + marker).c_str());
    EXPECT_TRUE(waitFor([&] { return exists(marker); }, 5000));
    hideNOWaitCommand(nullptr); // reported, nothing started
}

TEST(Processes, FindAndForceKillByName) {
    const std::string path = uniqueHelperCopy("velanto_sleeper_");
    const std::string name = std::filesystem::path(path).filename().string();
    EXPECT_FALSE(findProcess(wide(name).c_str()));

    hideNOWaitCommand(wide("\"" + path + "\" sleep 30000").c_str());
    hideNOWaitCommand(wide("\"" + path + "\" sleep 30000").c_str());
    ASSERT_TRUE(waitFor([&] { return findProcess(wide(name).c_str()); }, 5000));
    EXPECT_TRUE(findProcess(wide(name + ".exe").c_str())); // the Windows name finds it
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(findProcess(wide(upper).c_str())); // without regard to case

    EXPECT_EQ(forceKillProcesses(wide(name + ".exe").c_str()), 2);
    EXPECT_TRUE(waitFor([&] { return !findProcess(wide(name).c_str()); }, 5000));
    EXPECT_EQ(forceKillProcesses(wide(name).c_str()), 0);
    EXPECT_FALSE(findProcess(nullptr));
}

TEST(Processes, SelfDeleteRemovesTheProgramAfterItEnds) {
    const std::string path = uniqueHelperCopy("velanto_uninstaller_");
    EXPECT_EQ(hideWaitCommand(wide("\"" + path + "\" selfdelete").c_str(), false), 0);
    EXPECT_TRUE(exists(path)); // the delay lets the program end first
    EXPECT_TRUE(waitFor([&] { return !exists(path); }, 8000));
}

TEST(UserMutex, ContentionAndTimeOutBetweenProcesses) {
    const std::string ready = sandboxDir() + "/ready";
    hideNOWaitCommand(wide("velanto_test_helper lock VelantoWorker 0 1500 " + ready).c_str());
    ASSERT_TRUE(waitFor([&] { return readFile(ready) == "acquired"; }, 5000));
    EXPECT_TRUE(exists(runtimeDir() + "/velanto"));

    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(lockUserMutex("VelantoWorker", 0), nullptr);
    EXPECT_EQ(lockUserMutex("VelantoWorker", 200), nullptr);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));

    UserMutex other = lockUserMutex("SomethingElse", 0); // names are independent
    EXPECT_NE(other, nullptr);
    unlockUserMutex(other);

    UserMutex mine = lockUserMutex("VelantoWorker", 10000); // waits for the release
    ASSERT_NE(mine, nullptr);
    const std::string ready2 = sandboxDir() + "/ready2";
    EXPECT_EQ(hideWaitCommand(
                  wide("velanto_test_helper lock VelantoWorker 100 0 " + ready2).c_str(), false),
              3);
    EXPECT_EQ(readFile(ready2), "refused");
    unlockUserMutex(mine);
    unlockUserMutex(nullptr);
    EXPECT_EQ(lockUserMutex(nullptr, 0), nullptr);
}

TEST(UserMutex, OwnerDeathReleasesIt) {
    const std::string path = uniqueHelperCopy("velanto_holder_");
    const std::string name = std::filesystem::path(path).filename().string();
    const std::string ready = sandboxDir() + "/ready";
    hideNOWaitCommand(wide("\"" + path + "\" lock Abandoned 0 60000 " + ready).c_str());
    ASSERT_TRUE(waitFor([&] { return readFile(ready) == "acquired"; }, 5000));
    EXPECT_EQ(lockUserMutex("Abandoned", 0), nullptr);
    EXPECT_EQ(forceKillProcesses(wide(name).c_str()), 1);
    UserMutex mutex = lockUserMutex("Abandoned", 5000);
    EXPECT_NE(mutex, nullptr);
    unlockUserMutex(mutex);
}

TEST(UserMutex, ThreadsOfOneProcessContend) {
    UserMutex first = lockUserMutex("KestovaQvCAPIVelantoWatchdog", 0);
    ASSERT_NE(first, nullptr);
    UserMutex second = reinterpret_cast<UserMutex>(1);
    std::thread([&] { second = lockUserMutex("KestovaQvCAPIVelantoWatchdog", 50); }).join();
    EXPECT_EQ(second, nullptr);
    unlockUserMutex(first);
    std::thread([&] { second = lockUserMutex("KestovaQvCAPIVelantoWatchdog", 0); }).join();
    EXPECT_NE(second, nullptr);
    unlockUserMutex(second);
}

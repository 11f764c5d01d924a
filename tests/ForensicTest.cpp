// Crash dumps and the core utility classes.
#include "Sandbox.h"
#include "Velanto/Zm/Core.h"
#include "Velanto/Zm/Forensic.h"
#include "VelantoUtil/Tool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

using namespace testsupport;
namespace fs = std::filesystem;
namespace Forensic = Zm::OS::Win32::Forensic;

namespace {

std::vector<std::string> dumpsIn(const std::string& dir) {
    std::vector<std::string> dumps;
    for (const auto& name : listDir(dir))
        if (std::regex_match(name, std::regex("KestovaQvCAPIVelanto[0-9]{10}\\.dmp")))
            dumps.push_back(name);
    return dumps;
}

int crashChild(const std::string& dir) {
    // Under AddressSanitizer the child's own fault handler must stand aside for ours.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS",
           (std::string(asan ? asan : "") + ":handle_segv=0:allow_user_segv_handler=1").c_str(), 1);
    return hideWaitCommand(
        wide("velanto_test_helper crash " + dir + " KestovaQvCAPIVelanto").c_str(), false);
}

struct Counting : Forensic::Detail::IExceptionCallBack {
    explicit Counting(int& calls) : calls(calls) {}
    void call(const platform::CrashInfo*) override { ++calls; }
    int& calls;
};

} // namespace

TEST(CrashDump, ACrashLeavesOneDump) {
    const std::string dir = sandboxDir() + "/dumps";
    fs::create_directories(dir);
    const int code = crashChild(dir);
    EXPECT_EQ(code, 128 + 11); // the fault's default action follows the dump
    const auto dumps = dumpsIn(dir);
    ASSERT_EQ(dumps.size(), 1u);
    const std::string dump = readFile(dir + "/" + dumps[0]);
    EXPECT_NE(dump.find("signal: 11\n"), std::string::npos);
    EXPECT_NE(dump.find("address: 0x0000000000000008\n"), std::string::npos);
    EXPECT_NE(dump.find("registers:"), std::string::npos);
    EXPECT_NE(dump.find("backtrace:\n"), std::string::npos);
}

TEST(CrashDump, OldDumpsArePrunedOldestFirst) {
    const std::string dir = sandboxDir() + "/dumps";
    fs::create_directories(dir + "/older");
    writeFile(dir + "/KestovaQvCAPIVelanto1000000001.dmp", "a");
    writeFile(dir + "/older/KestovaQvCAPIVelanto1000000002.dmp", "b"); // subfolders count too
    writeFile(dir + "/KestovaQvCAPIVelanto1000000003.dmp", "c");
    writeFile(dir + "/OtherProgram1000000000.dmp", "other prefix");
    writeFile(dir + "/KestovaQvCAPIVelanto100000000.dmp", "nine digits");
    crashChild(dir);
    EXPECT_FALSE(exists(dir + "/KestovaQvCAPIVelanto1000000001.dmp"));
    EXPECT_TRUE(exists(dir + "/older/KestovaQvCAPIVelanto1000000002.dmp"));
    EXPECT_TRUE(exists(dir + "/KestovaQvCAPIVelanto1000000003.dmp"));
    EXPECT_TRUE(exists(dir + "/OtherProgram1000000000.dmp"));
    EXPECT_TRUE(exists(dir + "/KestovaQvCAPIVelanto100000000.dmp"));
    EXPECT_EQ(dumpsIn(dir).size(), 2u); // the new one and ...0003 in this folder
}

TEST(CrashDump, CallbacksRunOnceEvenIfTheHandlerRunsTwice) {
    auto& handler = Forensic::Detail::ExceptionHandler::instance();
    int first = 0, second = 0;
    handler.registerCallback(std::make_unique<Counting>(first),
                             Forensic::Detail::ExceptionHandler::WithInfo);
    handler.registerCallback(std::make_unique<Counting>(second),
                             Forensic::Detail::ExceptionHandler::WithoutInfo);
    platform::CrashInfo info;
    Forensic::Detail::ExceptionHandler::filter(&info);
    Forensic::Detail::ExceptionHandler::filter(&info);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

TEST(CoreUtilities, ScopeSingletonRetryAndLoader) {
    int ran = 0;
    {
        Zm::Core::ScopeExit guard([&] { ++ran; });
        EXPECT_EQ(ran, 0);
    }
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(&Forensic::Detail::ExceptionHandler::instance(),
              &Forensic::Detail::ExceptionHandler::instance());

    Zm::Core::Retry::Linear<2, 2> retry;
    EXPECT_EQ(retry.delay(), std::chrono::seconds(2));
    retry.next();
    retry.next();
    try {
        retry.next();
        FAIL() << "no third retry";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Retry timeout");
    }

    try {
        Zm::OS::Win32::Utility::LibraryLoader loader(L"/no/such/library.so", 8);
        FAIL() << "loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(
            std::string(error.what())
                .rfind("Failed to load library. Library = /no/such/library.so, Error code = ", 0),
            0u)
            << error.what();
    }
    EXPECT_EQ(Zm::OS::Win32::getSystemFolder(), L"/usr/lib");
    EXPECT_EQ(Zm::OS::Win32::utf8ToWide("caf\xc3\xa9"), L"caf\u00e9");
}

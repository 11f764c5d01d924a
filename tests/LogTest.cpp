// The settings reader, the log engine and the front end.
#include "Sandbox.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/ZmLog.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>

using namespace testsupport;

namespace {

const char kSettingsName[] = "KestovaQvCAPIVelanto.ini";

std::string logDir() {
    static const std::string dir = [] {
        makeDirs(sandboxDir() + "/logs");
        return sandboxDir() + "/logs";
    }();
    return dir;
}

std::string windowsSettings() {
    makeDirs(rootDir() + "/etc");
    return rootDir() + "/etc/" + kSettingsName;
}

std::string settingsText(const std::string& logFile, const std::string& level,
                         const std::string& extra = "") {
    return "[KestovaQvCAPIVelanto]\nLog File=" + logFile + "\n" + extra + "Log Level=" + level +
           "\n";
}

// Every record written under logDir(), in file-name order.
std::string allLogText() {
    std::string text;
    for (const auto& name : listDir(logDir()))
        text += readFile(logDir() + "/" + name);
    return text;
}

std::string today() {
    char buffer[16];
    std::time_t now = std::time(nullptr);
    std::strftime(buffer, sizeof(buffer), "%Y%m%d", std::localtime(&now));
    return buffer;
}

std::string readValue(const std::string& content, const char* key, int size = 128) {
    const std::string path = sandboxDir() + "/reader.ini";
    writeFile(path, content);
    char value[128] = "untouched";
    int rc = ZmLogReadValue(key, value, size, path.c_str());
    return rc == 0 ? std::string(value) : "#" + std::to_string(rc);
}

const std::string kRecordHead =
    R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[DEBUG\] \[\d{5}-\d{5}\] )";

} // namespace

TEST(SettingsReader, LineRules) {
    const std::string s = "[KestovaQvCAPIVelanto]\n";
    struct Case {
        std::string content;
        const char* key;
        std::string expected;
    } cases[] = {
        {s + "Log Level=5\n", "Log Level", "5"},
        {"[kestovaqvcapivelanto]\nLog Level=5\n", "Log Level", "5"},
        {"  [ KestovaQvCAPIVelanto ]  \nLog Level=5\n", "Log Level", "5"},
        {"[KestovaQvCAPIVelantoX]\nLog Level=5\n", "Log Level", "#102"},
        {"Log Level=5\n", "Log Level", "#102"},
        {s + "Log Level =5\n", "Log Level", "#103"}, // blank before "="
        {s + " Log Level=5\n", "Log Level", "#103"}, // blank before the name
        {s + "log level=5\n", "Log Level", "5"},     // names without regard to case
        {s + ";Log Level=5\n", "Log Level", "#103"}, // comment
        {s + "Log Level=   5\r\n", "Log Level", "5"},
        {s + "Log File=\"C:/logs/a b.log\"\n", "Log File", "C:/logs/a b.log"},
        {s + "Log File='x.log' ; note\n", "Log File", "x.log"},
        {s + "Log File=\"a\"b\"\n", "Log File", "a\"b"}, // up to the last quote
        {s + "Log File=\"open\n", "Log File", "open"},
        {s + "Log File=\n", "Log File", ""},
        {s + "[Other]\nLog Level=5\n", "Log Level", "#103"},
        {"[Other]\nLog Level=1\n" + s + "Log Level=2\n", "Log Level", "2"},
        {s + "Log Level=5\n[Other]\n", "Log MaxSize", "#103"},
        {"\r\n" + s + "\r\nLog MaxSize=100\r\n", "Log MaxSize", "100"},
        {std::string("\x01\xff\0garbage", 11), "Log Level", "#102"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readValue(c.content, c.key), c.expected) << c.content;

    // Inside the section a long line is read in pieces of size - 1 characters, and each
    // piece is examined as a line of its own.
    EXPECT_EQ(readValue(s + "Log Level=123456789\n", "Log Level", 16), "12345");
    EXPECT_EQ(readValue(s + "Log Level=12345678Log Level=9\n", "Log Level", 16), "12345");
    EXPECT_EQ(readValue(s + std::string(20, 'x') + "Log Level=7\n", "Log Level", 16), "#103");
    EXPECT_EQ(readValue(s + std::string(15, 'x') + "Log Level=7\n", "Log Level", 16), "7");

    char value[16];
    EXPECT_EQ(ZmLogReadValue("Log Level", value, sizeof(value), "/no/such/file.ini"), 101);
    EXPECT_EQ(ZmLogReadValue(nullptr, value, sizeof(value), "x"), 103);
    EXPECT_EQ(ZmLogReadValue("Log Level", nullptr, 16, "x"), 103);
    EXPECT_EQ(ZmLogReadValue("Log Level", value, 16, nullptr), 103);
}

TEST(Logging, SettingsInWindowsFolderSwitchLoggingOn) {
    writeFile(windowsSettings(), settingsText(logDir() + "/velanto.log", "5"));
    EXPECT_TRUE(setLog("KestovaQvCAPIVelanto"));
    EXPECT_TRUE(isLogEnabled());
    logNormal("Execute setting: ", "KestovaQvCAPI");

    EXPECT_EQ(listDir(logDir()), std::vector<std::string>{"velanto_" + today() + ".log"});
    auto records = lines(allLogText());
    ASSERT_EQ(records.size(), 4u);
    EXPECT_TRUE(std::regex_match(
        records[0], std::regex(kRecordHead + "Log Enable '" + windowsSettings() + "'")))
        << records[0];
    EXPECT_TRUE(std::regex_match(records[1],
                                 std::regex(kRecordHead + "Log.cpp \\d+ setLog Compile Time : .+")))
        << records[1];
    EXPECT_TRUE(std::regex_match(
        records[2],
        std::regex(kRecordHead + R"(\[KestovaQvCAPIVelanto\]\[Normal\] Log state: Enable)")));
    EXPECT_TRUE(std::regex_match(
        records[3],
        std::regex(kRecordHead +
                   R"(\[KestovaQvCAPIVelanto\]\[Normal\] Execute setting: KestovaQvCAPI)")))
        << records[3];
    char pid[16];
    std::snprintf(pid, sizeof(pid), "[%05d-", getpid() % 100000);
    EXPECT_NE(records[3].find(pid), std::string::npos);

    EXPECT_TRUE(setLog("Other")); // already on: nothing else happens
    EXPECT_EQ(lines(allLogText()).size(), 4u);
}

TEST(Logging, SearchOrderAndBareName) {
    // The temporary folder is used when the Windows folder has none, in any section case.
    writeFile(tmpDir() + "/" + kSettingsName,
              "[kestovaqvcapivelanto]\nLog File=" + logDir() + "/temp.log\nLog Level=5\n");
    EXPECT_TRUE(setLog("P"));
    stopLog();
    // The Windows folder comes first.
    writeFile(windowsSettings(), settingsText(logDir() + "/windows.log", "5"));
    EXPECT_TRUE(setLog("P"));
    stopLog();
    auto files = listDir(logDir());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0], "temp_" + today() + ".log");
    EXPECT_EQ(files[1], "windows_" + today() + ".log");

    // A bare name is looked for in the Windows folder, the home folder and the drive's tmp.
    std::remove(windowsSettings().c_str());
    writeFile(homeDir() + "/" + kSettingsName, settingsText(logDir() + "/home.log", "5"));
    EXPECT_EQ(ZmLogInit(kSettingsName), 0);
    EXPECT_EQ(ZmLogInit(kSettingsName), -1); // already initialised
    EXPECT_TRUE(exists(logDir() + "/home_" + today() + ".log"));
}

TEST(Logging, LevelFourWritesOnlyTheEnableRecord) {
    writeFile(windowsSettings(), settingsText(logDir() + "/v.log", "4"));
    EXPECT_TRUE(setLog("P"));
    logNormal("Key: ", "value");
    logError("Key: ", "value");
    auto records = lines(allLogText());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find(" [INFO ] "), std::string::npos);
    EXPECT_NE(records[0].find("Log Enable '"), std::string::npos);
}

TEST(Logging, LevelsOutsideTheTagTableWriteWithoutTag) {
    writeFile(windowsSettings(), settingsText(logDir() + "/v.log", "9"));
    EXPECT_TRUE(setLog("P"));
    auto records = lines(allLogText());
    ASSERT_FALSE(records.empty());
    EXPECT_TRUE(std::regex_search(records[0], std::regex(R"(\.\d{3}  \[\d{5}-\d{5}\] Log Enable)")))
        << records[0];
}

TEST(Logging, BadSettingsLeaveLoggingOff) {
    const std::string valid = logDir() + "/never.log";
    const std::vector<std::function<void()>> setups = {
        [] {}, // no settings file
        [&] { writeFile(windowsSettings(), "[KestovaQvCAPIVelanto]\nLog File=" + valid + "\n"); },
        [&] { writeFile(windowsSettings(), "Log File=" + valid + "\nLog Level=5\n"); },
        [&] { writeFile(windowsSettings(), std::string("\0\xff\xfe[\x01]", 6)); },
        [&] { writeFile(windowsSettings(), "[KestovaQvCAPIVelanto\nLog Level=5\n"); },
        [&] {
            std::remove(windowsSettings().c_str());
            makeDirs(windowsSettings()); // a folder where the file should be
        },
    };
    for (size_t i = 0; i < setups.size(); ++i) {
        setups[i]();
        EXPECT_FALSE(setLog("P")) << "case " << i;
        EXPECT_FALSE(isLogEnabled()) << "case " << i;
        logNormal("Key: ", "value");
    }
    EXPECT_TRUE(listDir(logDir()).empty());
    EXPECT_TRUE(listDir(rootDir() + "/tmp").size() <= 1); // at most the lock file
    EXPECT_FALSE(setLog(nullptr));
}

TEST(Logging, DefaultBaseWhenLogFileIsMissing) {
    writeFile(windowsSettings(), "[KestovaQvCAPIVelanto]\nLog Level=5\n");
    EXPECT_TRUE(setLog("P"));
    EXPECT_TRUE(exists(rootDir() + "/tmp/ZmLog_" + today() + ".log"));
}

TEST(Logging, MaxSizeRollsToNumberedFiles) {
    const std::string settings = sandboxDir() + "/roll.ini";
    writeFile(settings, settingsText(logDir() + "/roll.log", "5", "Log MaxSize=100\n"));
    ASSERT_EQ(ZmLogInit(settings.c_str()), 0); // its "Log Enable" record is below 100 bytes
    const std::string message(13, 'm');        // with the 46-byte head: 60-byte records
    for (int i = 0; i < 4; ++i)
        ZmLogPrint(5, nullptr, "%s", message.c_str());

    // Each file takes records until it is above the limit: a file at 60 bytes still takes
    // one more, the next record goes to the file with the next number.
    const std::string stem = logDir() + "/roll_" + today();
    EXPECT_EQ(listDir(logDir()).size(), 3u);
    EXPECT_EQ(lines(readFile(stem + ".log")).size(), 2u);
    EXPECT_EQ(readFile(stem + "_1.log").size(), 120u);
    EXPECT_EQ(readFile(stem + "_2.log").size(), 60u);
    EXPECT_EQ(ZmLogPrint(6, nullptr, "%s", "above the level"), -2);
}

TEST(Logging, BaseNameWithoutExtension) {
    makeDirs(logDir() + "/dotted.d");
    const std::string settings = sandboxDir() + "/plain.ini";
    writeFile(settings, settingsText(logDir() + "/dotted.d/plain", "5", "Log MaxSize=10\n"));
    ASSERT_EQ(ZmLogInit(settings.c_str()), 0);
    ZmLogPrint(5, nullptr, "%s", "second file");
    // The date goes at the end; a dot in a folder name is no extension; rolling still
    // reaches a new file.
    EXPECT_EQ(listDir(logDir() + "/dotted.d"),
              (std::vector<std::string>{"plain_" + today(), "plain_" + today() + "_1"}));
}

TEST(Logging, StopAndRestartReadsSettingsAgain) {
    writeFile(windowsSettings(), settingsText(logDir() + "/first.log", "5"));
    ASSERT_TRUE(setLog("P"));
    stopLog();
    EXPECT_FALSE(isLogEnabled());
    EXPECT_FALSE(ZmLogIsInitialised());
    logNormal("Dropped: ", "while off");
    writeFile(windowsSettings(), settingsText(logDir() + "/second.log", "5"));
    ASSERT_TRUE(setLog("P"));
    logNormal("Kept: ", "after restart");
    const std::string second = readFile(logDir() + "/second_" + today() + ".log");
    EXPECT_NE(second.find("Kept: after restart"), std::string::npos);
    EXPECT_EQ(allLogText().find("Dropped"), std::string::npos);
}

TEST(Logging, RecordVariants) {
    writeFile(windowsSettings(), settingsText(logDir() + "/v.log", "5"));
    ASSERT_TRUE(setLog("Prefix"));
    logWarningInt("Count: ", -5);
    logErrorInt("Code: ", 61001);
    logNormalInt("Port: ", 56435);
    logNormalWide("Wide: ", L"caf\u00e9");
    logWarning(nullptr, nullptr);
    logNormalWide("Null: ", nullptr);
    const std::string text = allLogText();
    for (const char* expected :
         {"[Prefix][Warning] Count: -5\n", "[Prefix][Error] Code: 61001\n",
          "[Prefix][Normal] Port: 56435\n", "[Prefix][Normal] Wide: caf\xc3\xa9\n",
          "[Prefix][Warning] \n", "[Prefix][Normal] Null: \n"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
}

TEST(Logging, NullArgumentsAreReportedByName) {
    writeFile(windowsSettings(), settingsText(logDir() + "/v.log", "5"));
    ASSERT_TRUE(setLog("P"));
    const std::map<std::string, std::function<void()>> calls = {
        {"input", [] { EXPECT_EQ(toLowerCopy(nullptr), nullptr); }},
        {"inputData", [] { EXPECT_EQ(unescapeControlChars(nullptr), nullptr); }},
        {"MainText", [] { EXPECT_EQ(padLeft(nullptr, 2, '0'), nullptr); }},
        {"inputVersionA", [] { EXPECT_EQ(compareVersion(nullptr, "1"), 61001); }},
        {"inputVersionB", [] { EXPECT_EQ(compareVersion("1", nullptr), 61001); }},
        {"inputMainString", [] { EXPECT_FALSE(startsWith("a", nullptr)); }},
        {"inputJSONObj", [] { EXPECT_EQ(getJsonValue(nullptr, "k"), nullptr); }},
        {"inputCommand", [] { hideNOWaitCommand(nullptr); }},
        {"processName", [] { EXPECT_FALSE(findProcess(nullptr)); }},
        {"filename", [] { EXPECT_FALSE(isDisplayNameFile(nullptr)); }},
        {"inputMutexLock", [] { EXPECT_EQ(lockUserMutex(nullptr, 0), nullptr); }},
        {"inputFileName", [] { EXPECT_FALSE(isFileExist(static_cast<const char*>(nullptr))); }},
    };
    for (const auto& [name, call] : calls) {
        call();
        const std::string text = allLogText();
        EXPECT_TRUE(std::regex_search(text, std::regex("\\[P\\]\\[Warning\\] Parameter " + name +
                                                       " is null at Tool.cpp \\d+\n")))
            << name;
    }
    EXPECT_EQ(readTextFile(static_cast<const wchar_t*>(nullptr)), nullptr);
    EXPECT_EQ(readTextFile(wide(sandboxDir() + "/missing").c_str()), nullptr);
    const std::string text = allLogText();
    EXPECT_NE(text.find("[P][Warning] inputPath is null\n"), std::string::npos);
    EXPECT_NE(text.find("[P][Warning] Read file pointer is null\n"), std::string::npos);
}

TEST(Logging, VersionTextComparisonIsLogged) {
    writeFile(windowsSettings(), settingsText(logDir() + "/v.log", "5"));
    ASSERT_TRUE(setLog("P"));
    EXPECT_EQ(compareVersion("1.0.1", "1.0.1x"), 2); // B not a number, parts differ: logged
    EXPECT_EQ(compareVersion("1.5", "1.x"), 2);
    EXPECT_EQ(compareVersion("1.y", "1.y"), 0); // A not a number: always logged
    const std::string text = allLogText();
    EXPECT_NE(text.find("Version check: String compare mode\n"), std::string::npos);
    EXPECT_NE(text.find(" - Version A: 1\n"), std::string::npos);
    EXPECT_NE(text.find(" - Version B: 1x\n"), std::string::npos);
    EXPECT_NE(text.find(" - Version A: y\n"), std::string::npos);
    EXPECT_EQ(countOf(text, "String compare mode"), 3);
}

TEST(Logging, TwoProcessesInterleaveWholeRecords) {
    writeFile(windowsSettings(), settingsText(logDir() + "/shared.log", "5"));
    const int count = 400;
    std::thread first([&] {
        EXPECT_EQ(
            hideWaitCommand(wide("velanto_test_helper log Alpha " + std::to_string(count)).c_str(),
                            false),
            0);
    });
    std::thread second([&] {
        EXPECT_EQ(hideWaitCommand(
                      wide("velanto_test_helper log Beta " + std::to_string(count)).c_str(), false),
                  0);
    });
    first.join();
    second.join();

    const std::regex record(
        kRecordHead + R"(\[(Alpha|Beta)\]\[Normal\] Record: (Alpha|Beta)-(\d{6})-[a-z0-9]{62})");
    std::map<std::string, std::set<int>> seen;
    std::set<int> pids;
    for (const auto& line : lines(allLogText())) {
        std::smatch match;
        if (line.find("Record: ") == std::string::npos) continue;
        ASSERT_TRUE(std::regex_match(line, match, record)) << line;
        EXPECT_EQ(match[1], match[2]);
        seen[match[1]].insert(std::stoi(match[3]));
        pids.insert(std::stoi(line.substr(line.find('[', 30) + 1, 5)));
    }
    EXPECT_EQ(seen["Alpha"].size(), static_cast<size_t>(count));
    EXPECT_EQ(seen["Beta"].size(), static_cast<size_t>(count));
    EXPECT_EQ(pids.size(), 2u);
}

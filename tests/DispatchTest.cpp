// Sessions, adapter loading and the request dispatcher, with the real adapter and the test
// component, and with stand-in adapters for the edge cases.
#include "Component/SigningComponent.h"
#include "LogCapture.h"
#include "Sandbox.h"
#include "SessionSandbox.h"
#include "VelantoSession/VelantoSession.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const char kOrigin[] = "https://shop.example.org";

using Answer = std::map<std::string, std::string>;

class DispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox.install("VelantoTestAdapterMap.so", "Test", "Map");
        sandbox.install("VelantoTestAdapterString.so", "Test", "StringOnly");
        sandbox.install("VelantoTestAdapterNone.so", "Test", "None");
    }

    // One call: members become the request; the answer comes back decoded.
    Answer call(const std::map<std::string, std::string>& members, const char* origin = kOrigin) {
        JsonMap* request = newJsonMap();
        for (const auto& [key, value] : members)
            setJsonMapValue(request, key.c_str(), value.c_str());
        JsonMap* answer = dispatchRequest(request, origin, getpid());
        Answer out;
        for (int i = 0; answer && i < answer->count; ++i)
            out[answer->entries[i].key] =
                answer->entries[i].value ? answer->entries[i].value : "<null>";
        freeJsonMap(answer);
        freeJsonMap(request);
        return out;
    }

    static std::map<std::string, std::string> opening(const char* function) {
        return {{"FunctionName", function},
                {"LibDir", "Kestova"},
                {"ComName", "KestovaCAPIATLAdapter"},
                {"minServerVersion", "1.0.0.0"}};
    }

    int openSessions() {
        int open = 0;
        for (int i = 0; i < kSessionSlots; ++i)
            open += sessionSlot(i).sessionId != nullptr;
        return open;
    }

    LogCapture log;
    SessionSandbox sandbox;
    const std::string& program = sandbox.program;
    const std::string& data = sandbox.data;
};

} // namespace

TEST_F(DispatchTest, OpeningEchoReportsVersions) {
    Answer answer = call(opening("VelantoEcho"));
    ASSERT_EQ(answer.size(), 4u);
    EXPECT_EQ(answer["SessionID"].size(), 12u);
    EXPECT_EQ(answer["ServerVersion"], "1.0.23.0510");
    EXPECT_EQ(answer["LibVersion"], "1,0,20,521");
    EXPECT_EQ(answer["result"], "0");
    EXPECT_EQ(openSessions(), 1);
    EXPECT_TRUE(exists(data + "/Tempfile/Session_0/KestovaCAPIATLAdapter.so"));
    EXPECT_EQ(sessionSlot(0).loadedPath, data + "/Tempfile/Session_0/KestovaCAPIATLAdapter.so");
    EXPECT_EQ(readFile(data + "/KestovaQvCAPIVelantoMainVersion"), "Velanto version=1.0.23.0510");

    // The page's next call reaches the session by its identifier, even inside other text.
    Answer echo =
        call({{"SessionId", "xx" + answer["SessionID"] + "yy"}, {"FunctionName", "Echo"}});
    EXPECT_EQ(
        echo,
        (Answer{{"ServerVersion", "1.0.23.0510"}, {"LibVersion", "1,0,20,521"}, {"result", "0"}}));
    EXPECT_TRUE(log.contains("Find the loaded adapter"));
    EXPECT_EQ(openSessions(), 1);
}

TEST_F(DispatchTest, VersionChecks) {
    auto withVersions = [](const char* minServer, const char* minLib) {
        auto members = opening("VelantoEcho");
        if (minServer)
            members["minServerVersion"] = minServer;
        else
            members.erase("minServerVersion");
        if (minLib) members["minLibVersion"] = minLib;
        return members;
    };
    EXPECT_EQ(call(withVersions("1.0.23.0511", nullptr)), (Answer{{"result", "61203"}}));
    EXPECT_EQ(call(withVersions(nullptr, nullptr)), (Answer{{"result", "61203"}}));
    EXPECT_EQ(call(withVersions("1.0.23.0510", "1,0,20,522")), (Answer{{"result", "61204"}}));
    EXPECT_EQ(call(withVersions("1.0.23.0510", "1.0.20.521"))["result"], "0");
    EXPECT_EQ(openSessions(), 1);
    EXPECT_FALSE(exists(data + "/Tempfile/Session_1/KestovaCAPIATLAdapter.so")); // failures cleaned

    // A three-part adapter version against the default minimum 0.0.0.0 cannot compare.
    setenv("VELANTO_TEST_VERSION", "1.0.1", 1);
    EXPECT_EQ(call({{"FunctionName", "Echo"},
                    {"PathID", "0"},
                    {"LibDir", "Test"},
                    {"ComName", "Map"},
                    {"minServerVersion", "1.0"}}),
              (Answer{{"result", "61203"}})); // two-part minimum for the service fails first
    EXPECT_EQ(call({{"FunctionName", "Echo"},
                    {"PathID", "0"},
                    {"LibDir", "Test"},
                    {"ComName", "Map"},
                    {"minServerVersion", "1.0.0.0"}}),
              (Answer{{"result", "61204"}}));
    setenv("VELANTO_TEST_VERSION", "61012", 1);
    EXPECT_EQ(
        call({{"FunctionName", "Echo"}, {"PathID", "0"}, {"LibDir", "Test"}, {"ComName", "Map"}}),
        (Answer{{"result", "61012"}}));
    setenv("VELANTO_TEST_VERSION", "", 1);
    Answer noVersion =
        call({{"FunctionName", "Echo"}, {"PathID", "0"}, {"LibDir", "Test"}, {"ComName", "Map"}});
    EXPECT_EQ(noVersion.size(), 1u);
    EXPECT_EQ(noVersion.count("SessionID"), 1u);
    unsetenv("VELANTO_TEST_VERSION");
    EXPECT_EQ(openSessions(), 1);
}

TEST_F(DispatchTest, UnlockDecides) {
    setenv("VELANTO_TEST_UNLOCK", "1", 1);
    EXPECT_EQ(
        call({{"FunctionName", "Echo"}, {"PathID", "0"}, {"LibDir", "Test"}, {"ComName", "Map"}}),
        (Answer{{"result", "1"}}));
    EXPECT_TRUE(log.contains("[T][Warning] Unlock result: 1\n"));
    unsetenv("VELANTO_TEST_UNLOCK");
    EXPECT_EQ(openSessions(), 0);

    // Only callMethod: it opens, answers the unlock, and cannot be asked its version.
    EXPECT_EQ(call({{"FunctionName", "Echo"},
                    {"PathID", "0"},
                    {"LibDir", "Test"},
                    {"ComName", "StringOnly"}}),
              (Answer{{"result", "61906"}}));
    EXPECT_TRUE(log.contains("[T][Normal] Json string init: Active\n"));
    EXPECT_EQ(
        call({{"FunctionName", "Echo"}, {"PathID", "0"}, {"LibDir", "Test"}, {"ComName", "None"}}),
        (Answer{{"result", "61906"}}));
    EXPECT_TRUE(log.contains("[T][Warning] All callMethod load fail\n"));
    EXPECT_EQ(openSessions(), 0);
}

TEST_F(DispatchTest, AdapterPathTable) {
    auto echo = [&](const char* pathId, const char* libDir, const char* comName) {
        std::map<std::string, std::string> members = {{"FunctionName", "Echo"},
                                                      {"minServerVersion", "1.0.0.0"}};
        if (pathId) members["PathID"] = pathId;
        if (libDir) members["LibDir"] = libDir;
        if (comName) members["ComName"] = comName;
        Answer answer = call(members);
        if (answer.count("SessionID"))
            call({{"SessionId", answer["SessionID"]}, {"FunctionName", "VelantoForceRelease"}});
        return answer["result"];
    };
    EXPECT_EQ(echo("5d1f3b7e9a2c4e6f8b0d2f4a6c8e0b1d", nullptr, nullptr), "0");
    EXPECT_EQ(echo("E7C3A9F1B5D2084C6E1A3F7B9D0C2E48", nullptr, nullptr), "61902"); // not installed
    EXPECT_EQ(echo("FFFF", "Test", "Map"), "0");      // no row: the request's names stay
    EXPECT_EQ(echo(nullptr, "Test", "Map"), "61009"); // without PathID only the table's rows
    EXPECT_EQ(echo(nullptr, "Kes/tova", "Kestova|CAPIATLAdapter"), "0"); // cleaned first
    EXPECT_EQ(echo(nullptr, "..", "KestovaCAPIATLAdapter"), "61009");
    EXPECT_EQ(echo("FFFF", "..", "x"), "61009");
    EXPECT_EQ(echo("FFFF", "Test", "Missing"), "61902");
    EXPECT_EQ(openSessions(), 0);

    char buffer[64] = "a<b>c:d\"e/f\\g|h?i*j;k&l$m";
    EXPECT_STREQ(sanitizeName(buffer, sizeof(buffer)), "abcdefghijklm");
}

TEST_F(DispatchTest, LeftoverCopyFallsBackToTheInstalledFile) {
    writeFile(data + "/Tempfile/Session_0/KestovaCAPIATLAdapter.so", "leftover");
    Answer answer = call(opening("Echo"));
    EXPECT_EQ(answer["result"], "0");
    EXPECT_EQ(sessionSlot(0).loadedPath, program + "/Kestova/KestovaCAPIATLAdapter.so");
    EXPECT_TRUE(log.contains("[T][Warning] Copy adapter state: Fail\n"));
    call({{"SessionId", answer["SessionID"]}, {"FunctionName", "VelantoForceRelease"}});
    EXPECT_TRUE(exists(program + "/Kestova/KestovaCAPIATLAdapter.so"));
    EXPECT_EQ(readFile(data + "/Tempfile/Session_0/KestovaCAPIATLAdapter.so"), "leftover");
}

TEST_F(DispatchTest, ReleaseRulesAndBrowserMode) {
    EXPECT_EQ(call({{"FunctionName", "VelantoClose"}}).count("SessionID"), 1u);
    EXPECT_EQ(call({{"FunctionName", "VelantoClose"}}).size(), 1u); // nothing opened
    EXPECT_EQ(openSessions(), 0);

    auto browser = opening("VelantoEcho");
    browser["VelantoMode"] = "true";
    const std::string id = call(browser)["SessionID"];
    EXPECT_TRUE(call({{"SessionId", id}, {"FunctionName", "VelantoClose"}}).empty());
    EXPECT_EQ(openSessions(), 1);
    EXPECT_TRUE(log.contains("[Browser mode] Skip release process"));
    call({{"SessionId", id}, {"FunctionName", "VelantoForceRelease"}});
    EXPECT_EQ(openSessions(), 0);

    const std::string plain = call(opening("VelantoEcho"))["SessionID"];
    call({{"SessionId", plain}, {"FunctionName", "VelantoRelease"}});
    EXPECT_EQ(openSessions(), 0);
    // The page's next call with its old identifier opens a new session under it.
    auto again = opening("Echo");
    again["SessionId"] = plain;
    Answer reopened = call(again);
    EXPECT_EQ(reopened["result"], "0");
    EXPECT_EQ(reopened.count("SessionID"), 0u);
    EXPECT_STREQ(sessionSlot(findSession(plain.c_str())).sessionId, plain.c_str());
}

TEST_F(DispatchTest, ValueStoreAndAdapterCalls) {
    const std::string id = call(opening("Echo"))["SessionID"];
    auto on = [&](std::map<std::string, std::string> members) {
        members["SessionId"] = id;
        return call(members);
    };
    EXPECT_EQ(on({{"FunctionName", "setVelantoValue"},
                  {"channel", "c"},
                  {"domain_list", "*.example.org"}}),
              (Answer{{"result", "61005"}}));
    EXPECT_EQ(on({{"FunctionName", "setVelantoValue"},
                  {"channel", "c"},
                  {"domain_list", "*.example.org"},
                  {"value", "v1"},
                  {"timeout", "5"}}),
              (Answer{{"result", "0"}}));
    EXPECT_EQ(on({{"FunctionName", "getVelantoValue"}, {"channel", "C"}}),
              (Answer{{"result", "v1"}}));
    EXPECT_EQ(on({{"FunctionName", "getVelantoValue"}}), (Answer{{"result", "61005"}}));
    const Answer elsewhere =
        call({{"SessionId", id}, {"FunctionName", "getVelantoValue"}, {"channel", "c"}},
             "https://evil.test");
    EXPECT_EQ(elsewhere, (Answer{{"result", ""}}));

    // Any other name goes to the adapter, whose answer is passed through unchanged.
    EXPECT_EQ(on({{"FunctionName", "GetErrorCode"}, {"VelantoFunctionIndex", "24"}}),
              (Answer{{"result", "0"}}));
    EXPECT_EQ(on({{"FunctionName", "NoSuchFunction"}}), (Answer{{"result", "61005"}}));
    EXPECT_EQ(on({{"FunctionName", "Qv_GETVersion"}, {"flag", "0"}, {"hide_result", "true"}}),
              (Answer{{"result", "1.0.0.1"}}));
    EXPECT_TRUE(log.contains(" Component result: *******\n"));
    EXPECT_TRUE(log.contains(" Component result: 0\n"));

    // Window raising runs around the adapter call when the page asks for it.
    EXPECT_EQ(on({{"FunctionName", "GetErrorCode"}, {"topuidetect", "true"}}),
              (Answer{{"result", "0"}}));
    EXPECT_TRUE(log.contains("[T][Normal] Set top component UI: Enable\n"));
    EXPECT_EQ(on({{"FunctionName", "GetErrorCode"}, {"topuialldetect", "true"}}),
              (Answer{{"result", "0"}}));
    EXPECT_TRUE(log.contains("[T][Normal] Set top all system UI: Enable\n"));
}

TEST_F(DispatchTest, FullTableEvictsTheOldest) {
    std::string first;
    for (int i = 0; i < kSessionSlots; ++i) {
        Answer answer = call(opening("Echo"));
        ASSERT_EQ(answer["result"], "0") << i;
        if (i == 0) first = answer["SessionID"];
    }
    EXPECT_EQ(openSessions(), 32);
    EXPECT_EQ(findOldestSession(), 0);
    EXPECT_EQ(call(opening("Echo"))["result"], "0");
    EXPECT_EQ(openSessions(), 32);
    EXPECT_EQ(findSession(first.c_str()), -1); // evicted: unloaded, its copy deleted
    EXPECT_TRUE(log.contains("[T][Warning] Velanto slot is full, release the oldest one\n"));
    EXPECT_TRUE(log.contains("[T][Normal] Release adapter state: Success\n"));
    EXPECT_TRUE(log.contains("[T][Normal] Delete adapter state: Success\n"));
    EXPECT_EQ(findOldestSession(), 1);
    // The evicted page's next call opens a session again under its old identifier.
    auto again = opening("Echo");
    again["SessionId"] = first;
    EXPECT_EQ(
        call(again),
        (Answer{{"LibVersion", "1,0,20,521"}, {"ServerVersion", "1.0.23.0510"}, {"result", "0"}}));
    EXPECT_EQ(findSession(first.c_str()), 1); // in the slot of the next oldest, now evicted

    releaseAllSessions();
    EXPECT_EQ(openSessions(), 0);
    EXPECT_EQ(findOldestSession(), -1);
    for (int i = 0; i < kSessionSlots; ++i)
        EXPECT_TRUE(listDir(data + "/Tempfile/Session_" + std::to_string(i)).empty()) << i;
}

TEST_F(DispatchTest, RestartRebuildsTheTemporaryFolder) {
    writeFile(data + "/Tempfile/Session_3/stale.so", "x");
    writeFile(data + "/Tempfile/junk.txt", "x");
    initSessionModule(data.c_str(), program.c_str());
    std::vector<std::string> expected;
    for (int i = 0; i < kSessionSlots; ++i)
        expected.push_back("Session_" + std::to_string(i));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listDir(data + "/Tempfile"), expected);
    EXPECT_TRUE(listDir(data + "/Tempfile/Session_3").empty());
}

TEST_F(DispatchTest, ManyOpenReleaseCyclesLeaveNothingBehind) {
    for (int i = 0; i < 1000; ++i) {
        Answer answer = call(opening("Echo"));
        ASSERT_EQ(answer["result"], "0") << i;
        call({{"SessionId", answer["SessionID"]}, {"FunctionName", "VelantoForceRelease"}});
    }
    EXPECT_EQ(openSessions(), 0);
    EXPECT_TRUE(listDir(data + "/Tempfile/Session_0").empty());
}

TEST_F(DispatchTest, NullArguments) {
    JsonMap* request = newJsonMap();
    EXPECT_EQ(dispatchRequest(nullptr, kOrigin, 1), nullptr);
    EXPECT_EQ(dispatchRequest(request, nullptr, 1), nullptr);
    freeJsonMap(request);
    EXPECT_TRUE(log.contains("Parameter JsonMap is null"));
    EXPECT_TRUE(log.contains("Parameter Origin is null"));
}

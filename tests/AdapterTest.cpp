// The adapter plug-in, loaded as the service loads it and driven through its two exports
// against the test component.
#include "AdapterProject/AdapterProject.h"
#include "Component/SigningComponent.h"
#include "LogCapture.h"
#include "Sandbox.h"
#include "TestComponent.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/platform/Platform.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace testsupport;
namespace fs = std::filesystem;

extern "C" __attribute__((weak)) int
__sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, std::size_t),
                                          void (*freeHook)(const volatile void*));

namespace {

const char kComponentPath[] = "/opt/test/TestComponent.so";

std::string libDir() {
    return fs::path(binDir()).parent_path().string() + "/lib";
}

struct MapDeleter {
    void operator()(JsonMap* map) const { freeJsonMap(map); }
};
using Map = std::unique_ptr<JsonMap, MapDeleter>;

Map makeMap(const std::map<std::string, std::string>& members) {
    Map map(newJsonMap());
    for (const auto& [key, value] : members)
        setJsonMapValue(map.get(), key.c_str(), value.c_str());
    return map;
}

// One loaded copy of the adapter, from a file of its own.
struct AdapterCopy {
    explicit AdapterCopy(const std::string& name) {
        const std::string path = sandboxDir() + "/" + name;
        fs::copy_file(libDir() + "/KestovaCAPIATLAdapter.so", path,
                      fs::copy_options::overwrite_existing);
        library = platform::loadLibrary(path);
        callMethod =
            reinterpret_cast<CallMethodFunction>(platform::findSymbol(library, "callMethod"));
        callJsonMapMethod = reinterpret_cast<CallJsonMapMethodFunction>(
            platform::findSymbol(library, "callJsonMapMethod"));
    }
    std::string call(const std::map<std::string, std::string>& members, const char* function) {
        Map map = makeMap(members);
        return callJsonMapMethod(map.get(), function);
    }
    void* library = nullptr;
    CallMethodFunction callMethod = nullptr;
    CallJsonMapMethodFunction callJsonMapMethod = nullptr;
};

class AdapterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        installComponent();
        adapter = std::make_unique<AdapterCopy>("KestovaCAPIATLAdapter.so");
        ASSERT_NE(adapter->callMethod, nullptr);
        ASSERT_NE(adapter->callJsonMapMethod, nullptr);
    }
    void installComponent() {
        const std::string target = rootDir() + kComponentPath;
        fs::create_directories(fs::path(target).parent_path());
        fs::copy_file(libDir() + "/VelantoTestComponent.so", target,
                      fs::copy_options::overwrite_existing);
        ASSERT_TRUE(registerInprocServer(CLSID_SigningComponent, kComponentPath));
        void* component = platform::loadLibrary(target);
        auto stateOf = reinterpret_cast<TestComponentStateFunction>(
            platform::findSymbol(component, "VelantoTestComponentState"));
        ASSERT_NE(stateOf, nullptr);
        state = stateOf();
    }
    const RecordedCall& lastCall() {
        static const RecordedCall none;
        return state->calls.empty() ? none : state->calls.back();
    }

    LogCapture log;
    std::unique_ptr<AdapterCopy> adapter;
    TestComponentState* state = nullptr;
};

TestComponentState* watchedState = nullptr;
bool zeroedAtFree[TestComponentState::kWatchSlots];
bool freed[TestComponentState::kWatchSlots];

void noteMalloc(const volatile void*, std::size_t) {}

// Runs inside free(): no allocation here.
void noteFree(const volatile void* pointer) {
    if (!watchedState) return;
    for (int i = 0; i < watchedState->watchedCount; ++i) {
        if (watchedState->watchedBlocks[i] != const_cast<const void*>(pointer)) continue;
        const auto* text = static_cast<const volatile unsigned char*>(pointer) + 4;
        bool zero = true;
        for (unsigned b = 0; b < watchedState->watchedBytes[i]; ++b)
            zero = zero && text[b] == 0;
        zeroedAtFree[i] = zero;
        freed[i] = true;
    }
}

} // namespace

TEST_F(AdapterTest, IndexModeAndNameMode) {
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "19"}, {"codepage", "950"}}, "SetCodePage"),
              "0");
    EXPECT_EQ(lastCall().member, "SetCodePage");
    EXPECT_EQ(lastCall().arguments, std::vector<std::string>{"I:950"});
    EXPECT_FALSE(log.contains("Function search name mode"));

    // Another letter case of the entry at the index is still index mode.
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "24"}}, "geterrorcode"), "7");
    EXPECT_FALSE(log.contains("Function search name mode"));

    // No index reads as 0: the mismatch is logged, then the name decides.
    EXPECT_EQ(adapter->call({{"bData", "d"}, {"Subject", "s"}}, "QvCAPISign"), "QvCAPISign:ok");
    EXPECT_TRUE(log.contains(
        "[KestovaCAPIATLAdapter][Warning] VelantoFunctionIndex is not match with adapter\n"));
    EXPECT_TRUE(
        log.contains("[KestovaCAPIATLAdapter][Warning] FunctionName from web: QvCAPISign\n"));
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Warning] FunctionName in adapter: "
                             "VelantoProperty_propput_HashAlgorithm\n"));
    EXPECT_TRUE(
        log.contains("[KestovaCAPIATLAdapter][Normal] Function search name mode: QvCAPISign\n"));

    for (const char* index : {"-4", "134"}) {
        EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", index}}, "GetErrorCode"), "7") << index;
    }
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Warning] FunctionIndex: Out of range\n"));
    EXPECT_EQ(
        adapter->call({{"VelantoFunctionIndex", "true"}}, "VelantoProperty_propget_HashAlgorithm"),
        "get_HashAlgorithm:ok"); // "true" reads as 1
    EXPECT_EQ(adapter->call({}, "NoSuchFunction"), "61005");
    EXPECT_TRUE(log.contains(
        "[KestovaCAPIATLAdapter][Warning] Function name does not match: NoSuchFunction\n"));
    EXPECT_EQ(adapter->call({}, std::string(300, 'Q').c_str()), "61005");

    // The registry was built once: 134 component functions and 3 built-ins.
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Normal] Success enable:\n"));
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Normal] \tComponent api: 134\n"));
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Normal] \tSystem api: 3\n"));
}

TEST_F(AdapterTest, JsonTextEntryAndBadArguments) {
    EXPECT_STREQ(adapter->callMethod(R"({"FunctionName":"Qv_GETVersion","flag":"3"})"),
                 "Qv_GETVersion:ok");
    EXPECT_EQ(lastCall().arguments, std::vector<std::string>{"I:3"});
    EXPECT_STREQ(adapter->callMethod(R"({"flag":"3"})"), "61005");
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Warning] Function name is null\n"));
    EXPECT_STREQ(adapter->callMethod("{not json"), "");
    EXPECT_STREQ(adapter->callMethod(nullptr), "");
    EXPECT_TRUE(log.contains("Parameter JSONObj is null at AdapterProject.cpp"));
    Map map = makeMap({{"a", "b"}});
    EXPECT_STREQ(adapter->callJsonMapMethod(nullptr, "GetErrorCode"), "");
    EXPECT_STREQ(adapter->callJsonMapMethod(map.get(), nullptr), "");
    EXPECT_TRUE(log.contains("Parameter JsonMap is null at AdapterProject.cpp"));
    EXPECT_TRUE(log.contains("Parameter FunctionName is null at AdapterProject.cpp"));
}

TEST_F(AdapterTest, BuiltInsByIndexAndByName) {
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "-1"}}, "anything"), "1,0,20,521");
    EXPECT_EQ(adapter->call({}, "velanto_getversion"), "1,0,20,521");
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "-2"}, {"url", "https://a.test"}}, "x"), "0");
    EXPECT_EQ(adapter->call({}, "Velanto_Unlock"), "0");
    EXPECT_EQ(state->liveObjects, 1);

    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "-3"}}, "whatever"), "");
    EXPECT_EQ(state->liveObjects, 0);
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Normal] VelantoRelease\n"));
    // The next call creates the component and builds the registry again.
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "24"}}, "GetErrorCode"), "7");
    EXPECT_EQ(state->liveObjects, 1);
    EXPECT_EQ(adapter->call({}, "Velanto_Release"), "");
    EXPECT_EQ(state->liveObjects, 0);
    EXPECT_EQ(countOf(log.text(), "Success enable:"), 2);
}

TEST_F(AdapterTest, MissingParameters) {
    const std::map<std::string, std::string> noSubject = {
        {"bData", "d"}, {"flags", "1"}, {"iKeyUsage", "2"}, {"VelantoFunctionIndex", "18"}};
    auto refused = noSubject;
    refused["AdapterJsonKeyCheck"] = "true";
    EXPECT_EQ(adapter->call(refused, "QvCAPISign"), "61016");
    EXPECT_TRUE(state->calls.empty());
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Warning] Json map key not found: Subject\n"));
    EXPECT_FALSE(log.contains("Ready into component func: QvCAPISign"));
    EXPECT_FALSE(log.contains("not found: AdapterJsonKeyCheck"));

    EXPECT_EQ(adapter->call(noSubject, "QvCAPISign"), "QvCAPISign:ok");
    EXPECT_EQ(lastCall().arguments, (std::vector<std::string>{"T:d", "T:<null>", "I:1", "I:2"}));
    // Keys are found in any letter case; a member without parameters is never refused.
    EXPECT_EQ(adapter->call({{"bdata", "x"}, {"SUBJECT", "y"}, {"Flags", "3"}, {"ikeyusage", "4"}},
                            "QvCAPISign"),
              "QvCAPISign:ok");
    EXPECT_EQ(lastCall().arguments, (std::vector<std::string>{"T:x", "T:y", "I:3", "I:4"}));
    EXPECT_EQ(adapter->call({{"AdapterJsonKeyCheck", "true"}}, "GetErrorCode"), "7");
}

TEST_F(AdapterTest, ComponentErrorsAnswer61011) {
    state->answers[SigningOrder::QvCAPIVerify].kind = ScriptedAnswer::Kind::Failure;
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "20"}}, "QvCAPIVerify"), "61011");
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Warning] Catch component exception\n"));
    EXPECT_TRUE(log.contains(
        "[KestovaCAPIATLAdapter][Error] [Safe Line] Safe in ComponentAPI_QvCAPIVerify at "));
    EXPECT_TRUE(log.contains(" lines in AdapterProject\n"));
}

TEST_F(AdapterTest, NoComponentAnswers61905UntilOneIsRegistered) {
    std::remove(classRegistrationPath(CLSID_SigningComponent).c_str());
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "-1"}}, "Velanto_GetVersion"), "61905");
    EXPECT_TRUE(log.contains("[KestovaCAPIATLAdapter][Error] Component init error!\n"));
    ASSERT_TRUE(registerInprocServer(CLSID_SigningComponent, kComponentPath));
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "-1"}}, "Velanto_GetVersion"), "1,0,20,521");
}

TEST_F(AdapterTest, AnswerKinds) {
    auto script = [&](int order, ScriptedAnswer answer) { state->answers[order] = answer; };
    ScriptedAnswer text;
    text.text = "h\xc3\xa9llo \xf0\x9f\x98\x80";
    script(SigningOrder::QvCAPISign, text);
    EXPECT_EQ(adapter->call({}, "QvCAPISign"), text.text);
    ScriptedAnswer nullText;
    nullText.kind = ScriptedAnswer::Kind::NullText;
    script(SigningOrder::QvCAPISign, nullText);
    EXPECT_EQ(adapter->call({}, "QvCAPISign"), "");
    ScriptedAnswer number;
    number.kind = ScriptedAnswer::Kind::Number;
    number.number = -42;
    script(SigningOrder::QvCAPIVerify, number);
    EXPECT_EQ(adapter->call({}, "QvCAPIVerify"), "-42");
    EXPECT_EQ(adapter->call({{"codepage", "1"}}, "SetCodePage"), "0");

    ScriptedAnswer list;
    list.kind = ScriptedAnswer::Kind::List;
    list.list = {{VT_BSTR, "A", 0}, {VT_I4, "", 5}, {VT_BSTR, "B", 0}};
    script(SigningOrder::QvXCAPIGetCertsEx, list);
    EXPECT_EQ(adapter->call({}, "QvXCAPIGetCertsEx"), "A;5;B;");
    list.list = {{VT_INT, "", -7}, {VT_BOOL, "", 1}, {VT_EMPTY, "", 0}};
    script(SigningOrder::QvXCAPIGetCertsEx, list);
    EXPECT_EQ(adapter->call({}, "QvXCAPIGetCertsEx"), "-7;;;");
    list.list.clear();
    script(SigningOrder::QvXCAPIGetCertsEx, list);
    EXPECT_EQ(adapter->call({}, "QvXCAPIGetCertsEx"), "");
    ScriptedAnswer flag;
    flag.kind = ScriptedAnswer::Kind::Bool;
    flag.flag = false;
    script(SigningOrder::QvXCAPIGetCertSubject, flag);
    EXPECT_EQ(adapter->call({}, "QvXCAPIGetCertSubject"), "0");
    flag.flag = true;
    script(SigningOrder::QvXCAPIGetCertSubject, flag);
    EXPECT_EQ(adapter->call({}, "QvXCAPIGetCertSubject"), "1");

    ScriptedAnswer plainArray;
    plainArray.kind = ScriptedAnswer::Kind::List;
    plainArray.arrayType = VT_BSTR;
    plainArray.list = {{VT_BSTR, "A", 0}};
    script(SigningOrder::QvXCAPIGetCertsEx, plainArray);
    testing::internal::CaptureStdout();
    EXPECT_EQ(adapter->call({}, "QvXCAPIGetCertsEx"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error!! value->vt & ~VT_ARRAY = 8\n");
}

// Every one of the 134 handlers: its index and name reach the member of the table, with
// the table's parameters read in the table's order.
TEST_F(AdapterTest, EveryHandlerCallsItsMemberWithItsParameters) {
    struct Expected {
        int index;
        std::string function;
        std::string member;
        std::vector<std::pair<std::string, char>> params; // key, kind
        char answer;                                      // 'T'ext, 'N'umber, 'L'ist, '0'
    };
    std::vector<Expected> rows;
#define VELANTO_EXPAND(...) __VA_ARGS__
#define T(key) {#key, 'T'}
#define I(key)                                                                                     \
    { #key, 'I' }
#define V(key)                                                                                     \
    { #key, 'V' }
#define OUT_TEXT                                                                                   \
    { "", 'T' }
#define OUT_NUMBER                                                                                 \
    { "", 'N' }
#define OUT_LIST                                                                                   \
    { "", 'L' }
#define ROW_METHOD(order, index, name, params)                                                     \
    rows.push_back({index, #name, #name, {VELANTO_EXPAND params}, '0'});
#define PROPERTY_IN_TEXT 'T'
#define PROPERTY_IN_INT 'I'
#define PROPERTY_OUT_TEXT 'T'
#define PROPERTY_OUT_INT 'N'
#define ROW_PROPERTY(getOrder, putOrder, name, kind, propput, propget, get, put)                   \
    rows.push_back({propput,                                                                       \
                    "VelantoProperty_propput_" #name,                                              \
                    "put_" #name,                                                                  \
                    {{"PropertyParameter", PROPERTY_IN_##kind}},                                   \
                    '0'});                                                                         \
    rows.push_back({propget,                                                                       \
                    "VelantoProperty_propget_" #name,                                              \
                    "get_" #name,                                                                  \
                    {{"", PROPERTY_OUT_##kind}},                                                   \
                    '0'});                                                                         \
    rows.push_back({get, "Get" #name, "get_" #name, {{"", PROPERTY_OUT_##kind}}, '0'});            \
    rows.push_back({put, "Put" #name, "put_" #name, {{"pVal", PROPERTY_IN_##kind}}, '0'});
    VELANTO_SIGNING_MEMBERS(ROW_METHOD, ROW_PROPERTY)
#undef ROW_PROPERTY
#undef PROPERTY_OUT_INT
#undef PROPERTY_OUT_TEXT
#undef PROPERTY_IN_INT
#undef PROPERTY_IN_TEXT
#undef ROW_METHOD
#undef OUT_LIST
#undef OUT_NUMBER
#undef OUT_TEXT
#undef V
#undef I
#undef T
#undef VELANTO_EXPAND
    ASSERT_EQ(rows.size(), 134u);
    std::vector<bool> seen(134, false);
    for (auto& row : rows) {
        if (!row.params.empty() && row.params.back().first.empty()) {
            row.answer = row.params.back().second;
            row.params.pop_back();
        }
        ASSERT_GE(row.index, 0);
        ASSERT_LT(row.index, 134);
        EXPECT_FALSE(seen[row.index]) << row.function;
        seen[row.index] = true;

        std::map<std::string, std::string> members = {
            {"VelantoFunctionIndex", std::to_string(row.index)}, {"AdapterJsonKeyCheck", "true"}};
        std::vector<std::string> expectedArguments;
        int n = 0;
        for (const auto& [key, kind] : row.params) {
            ++n;
            if (kind == 'I') {
                members[key] = std::to_string(1000 + n);
                expectedArguments.push_back("I:" + std::to_string(1000 + n));
            } else {
                members[key] = "text-" + key + "-\xe6\x96\x87";
                expectedArguments.push_back((kind == 'V' ? "V:8:" : "T:") + members[key]);
            }
        }
        const size_t before = state->calls.size();
        const std::string answer = adapter->call(members, row.function.c_str());
        ASSERT_EQ(state->calls.size(), before + 1) << row.function << " answered " << answer;
        EXPECT_EQ(lastCall().member, row.member) << row.function;
        EXPECT_EQ(lastCall().arguments, expectedArguments) << row.function;
        const std::string expectedAnswer = row.answer == 'T'   ? row.member + ":ok"
                                           : row.answer == 'N' ? std::to_string(lastCall().order)
                                           : row.answer == 'L' ? ""
                                                               : "0";
        EXPECT_EQ(answer, expectedAnswer) << row.function;
    }
    EXPECT_FALSE(log.contains("FunctionIndex mode: Fail"));
}

TEST_F(AdapterTest, TwoLoadedCopiesKeepSeparateState) {
    AdapterCopy second("KestovaCAPIATLAdapter-session2.so");
    ASSERT_NE(second.library, adapter->library);
    const char* first = adapter->callJsonMapMethod(makeMap({{"VelantoFunctionIndex", "-1"}}).get(),
                                                   "Velanto_GetVersion");
    EXPECT_EQ(second.call({{"VelantoFunctionIndex", "24"}}, "GetErrorCode"), "7");
    EXPECT_STREQ(first, "1,0,20,521"); // the other copy's answer slot is its own
    EXPECT_EQ(state->liveObjects, 2);  // one component per copy
    EXPECT_EQ(second.call({{"VelantoFunctionIndex", "-3"}}, "Velanto_Release"), "");
    EXPECT_EQ(state->liveObjects, 1);
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "24"}}, "GetErrorCode"), "7");
    EXPECT_EQ(state->liveObjects, 1); // the first copy did not have to start again
}

TEST_F(AdapterTest, TextParametersArriveIntactAndAreZeroedAfterTheCall) {
    if (!__sanitizer_install_malloc_and_free_hooks) GTEST_SKIP() << "needs the sanitizer build";
    const std::string secret = "PIN \xe5\xaf\x86\xe7\xa2\xbc 1234";
    EXPECT_EQ(adapter->call({{"VelantoFunctionIndex", "-1"}}, "Velanto_GetVersion"), "1,0,20,521");
    watchedState = state;
    state->watchTexts = true;
    // Both hooks are needed for the runtime to take them; they cannot be removed again,
    // so they go quiet when watchedState is cleared.
    ASSERT_NE(__sanitizer_install_malloc_and_free_hooks(noteMalloc, noteFree), 0);
    const std::string answer = adapter->call(
        {{"strData", "data"}, {"strPin", secret}, {"strSubject", "CN=x"}}, "QvCAPISignEx");
    state->watchTexts = false;
    watchedState = nullptr;
    EXPECT_EQ(answer, "QvCAPISignEx:ok");
    EXPECT_EQ(lastCall().arguments[3], "T:" + secret);
    ASSERT_EQ(state->watchedCount, 3); // strData, strSubject, strPin (strProvider is absent)
    for (int i = 0; i < state->watchedCount; ++i) {
        EXPECT_TRUE(freed[i]) << i;
        EXPECT_TRUE(zeroedAtFree[i]) << i;
    }
}

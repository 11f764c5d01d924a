// The JSON parameter map: parsing, lookup, value flags, serialisation and display.
#include "LogCapture.h"
#include "Sandbox.h"
#include "VelantoUtil/AES.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Tool.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace testsupport;

namespace {

struct MapDeleter {
    void operator()(JsonMap* map) const { freeJsonMap(map); }
};
using Map = std::unique_ptr<JsonMap, MapDeleter>;

Map parse(const std::string& text) {
    return Map(parseJsonMap(text.c_str()));
}

using Rows = std::vector<std::pair<std::string, std::string>>;

Rows rows(const JsonMap* map) {
    Rows out;
    for (int i = 0; i < map->count; ++i)
        out.emplace_back(map->entries[i].key,
                         map->entries[i].value ? map->entries[i].value : "<null>");
    return out;
}

std::string get(JsonMap* map, const char* key) {
    auto value = heap(getJsonMapString(map, key));
    return value ? std::string(value.get()) : std::string("<null>");
}

std::string flatObject(int members) {
    std::string text = "{";
    for (int i = 0; i < members; ++i)
        text += (i ? "," : "") + std::string("\"k") + std::to_string(i) + "\":\"v\"";
    return text + "}";
}

// A parameter as a page sends it encrypted: hex of AES-256-CBC under the first 32 bytes of
// the share secret and the fixed parameter vector.
std::string encryptForPage(const std::string& secret, const char* text) {
    unsigned char vectorArea[32] = {};
    parameterVector(vectorArea);
    setValueStoreCipher(reinterpret_cast<const unsigned char*>(secret.data()), vectorArea);
    std::size_t length = 0;
    auto cipher = heap(aesCbcEncrypt(text, &length));
    std::string hex;
    static const char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < length; ++i) {
        hex += kDigits[cipher.get()[i] >> 4];
        hex += kDigits[cipher.get()[i] & 0xF];
    }
    return hex;
}

} // namespace

TEST(JsonMapLayout, FieldOrderIsTheBinaryInterface) {
    EXPECT_EQ(offsetof(JsonMapEntry, key), 0u);
    EXPECT_LT(offsetof(JsonMapEntry, key), offsetof(JsonMapEntry, value));
    EXPECT_LT(offsetof(JsonMapEntry, value), offsetof(JsonMapEntry, binary));
    EXPECT_LT(offsetof(JsonMapEntry, binary), offsetof(JsonMapEntry, binaryLength));
    EXPECT_EQ(offsetof(JsonMap, entries), 0u);
    EXPECT_EQ(offsetof(JsonMap, rawText), sizeof(JsonMapEntry) * 128);
    EXPECT_GT(offsetof(JsonMap, count), offsetof(JsonMap, rawText));
}

TEST(JsonMapParse, Table) {
    struct Case {
        std::string text;
        Rows expected;
    } cases[] = {
        {R"({"a":"1","b":"2"})", {{"a", "1"}, {"b", "2"}}},
        {R"({"B":"x","a":"y"})", {{"a", "y"}, {"B", "x"}}},
        {R"({"a":{"b":"c"},"d":"e"})", {{"a", R"({"b":"c"})"}, {"b", "c"}, {"d", "e"}}},
        {R"({"a":[1,2,3]})", {{"2", "3"}, {"[1,2,3]", "1"}}}, // "a" is never read
        {R"({"k":"line1\nline2"})", {{"k", "line1\nline2"}}},
        {R"({"k":"a\\b"})", {{"k", R"(a\\b)"}}},
        {R"({"k":"\r\t\u000f\u000e\u001b\"\/\u00e9"})", {{"k", "\r\t\x0f\x0e\x1b\"\\/\\u00e9"}}},
        {R"({"a\"b":"1"})", {{R"(a\"b)", "1"}}},
        {R"({"n": 12, "t": true, "z": null})", {{"n", "12"}, {"t", "true"}, {"z", "null"}}},
        {R"({"a":""})", {{"a", ""}}},
        {R"({word: bare})", {{"word", "bare"}}}, // non-strict: unquoted words are tokens
        {"[1]", {}},
        // An empty key ends the reading (backwards): later members stay, sorted.
        {R"({"z":"1","":"x","b":"2","A":"3"})", {{"A", "3"}, {"b", "2"}}},
    };
    for (const auto& c : cases) {
        Map map = parse(c.text);
        ASSERT_NE(map, nullptr) << c.text;
        EXPECT_EQ(rows(map.get()), c.expected) << c.text;
        EXPECT_STREQ(map->rawText, c.text.c_str());
    }
}

TEST(JsonMapParse, RefusalsAndTokenLimit) {
    LogCapture log;
    for (const char* text : {"{}", "", "{\"a\":", "{\"a\":\"1}", "\"lonely\""})
        EXPECT_EQ(parseJsonMap(text), nullptr) << text;
    EXPECT_EQ(parseJsonMap(nullptr), nullptr);
    EXPECT_TRUE(log.contains("[T][Error] jsmn parse error\n"));
    EXPECT_TRUE(log.contains("[T][Error] Error json: {}\n"));
    EXPECT_TRUE(log.contains("Parameter inputJsonStr is null at Json.cpp"));

    Map full = parse(flatObject(128)); // 257 tokens
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->count, 128);
    EXPECT_EQ(parseJsonMap(flatObject(129).c_str()), nullptr);
    std::string tokens258 = flatObject(127);
    tokens258.back() = ',';
    tokens258 += "\"x\":[1]}"; // 1 + 254 + 3 tokens
    EXPECT_EQ(parseJsonMap(tokens258.c_str()), nullptr);
}

TEST(JsonMapLookup, CaseInsensitiveBinarySearch) {
    Map map = parse(R"({"SessionId":"S1","FunctionName":"f","b":"2","Bb":"3","_x":"4","~":"5"})");
    EXPECT_EQ(get(map.get(), "sessionid"), "S1");
    EXPECT_EQ(get(map.get(), "FUNCTIONNAME"), "f");
    for (const auto& row : rows(map.get()))
        EXPECT_EQ(get(map.get(), row.first.c_str()), row.second);
    EXPECT_EQ(get(map.get(), "missing"), "<null>");
    EXPECT_EQ(compareJsonKeys("result", "SessionID"), -1);
    EXPECT_EQ(compareJsonKeys("ab", "AB"), 0);
    EXPECT_EQ(compareJsonKeys("a", "ab"), -1);
    EXPECT_EQ(compareJsonKeys("\xe9", "z"), 1); // unsigned bytes

    // Every key of a full map is found.
    Map full = parse(flatObject(128));
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(get(full.get(), ("K" + std::to_string(i)).c_str()), "v");

    JsonMap* empty = newJsonMap();
    EXPECT_EQ(BinarySearchVelantoJsonMap(empty, "a", 0, -1), nullptr);
    freeJsonMap(empty);
}

TEST(JsonMapLookup, ArmedKeyCheckReportsMissingParameters) {
    LogCapture log;
    Map map = parse(R"({"a":"1"})");
    lastErrorCode = 0;
    EXPECT_EQ(get(map.get(), "strCert"), "<null>");
    EXPECT_EQ(lastErrorCode.load(), 0); // silent while disarmed
    keyCheckArmed = true;
    for (const char* internal : {"strCert_VelantoFlag", "topuidetect", "VelantoMode"})
        EXPECT_EQ(get(map.get(), internal), "<null>");
    EXPECT_EQ(lastErrorCode.load(), 0);
    EXPECT_EQ(get(map.get(), "strCert"), "<null>");
    keyCheckArmed = false;
    EXPECT_EQ(lastErrorCode.load(), kResultKeyNotFound);
    EXPECT_TRUE(log.contains("[T][Warning] Json map key not found: strCert\n"));
    EXPECT_FALSE(log.contains("not found: topuidetect"));
}

TEST(JsonMapLookup, BinaryValuesComeBackTerminated) {
    JsonMap* map = newJsonMap();
    setJsonMapValue(map, "blob", nullptr);
    map->entries[0].binary = static_cast<unsigned char*>(std::malloc(3));
    std::memcpy(map->entries[0].binary, "xyz", 3);
    map->entries[0].binaryLength = 3;
    auto copy = heap(BinarySearchVelantoJsonMap(map, "blob", 0, map->count - 1));
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy.get(), "xyz");
    char* json = jsonMapToText(map); // binary values are never written
    EXPECT_STREQ(json, "{}");
    std::free(json);
    freeJsonMap(map);
}

TEST(JsonMapSet, AddReplaceAndFullMap) {
    LogCapture log;
    JsonMap* map = newJsonMap();
    EXPECT_EQ(setJsonMapValue(map, "SessionID", "AB12CD34_SID"), 0);
    setJsonMapResult(map, 0);
    EXPECT_EQ(rows(map), (Rows{{"result", "0"}, {"SessionID", "AB12CD34_SID"}}));
    char* json = jsonMapToText(map);
    EXPECT_STREQ(json, R"({"result": "MA==", "SessionID": "QUIxMkNEMzRfU0lE"})");
    std::free(json);

    setJsonMapResult(map, 61001);
    EXPECT_EQ(setJsonMapValue(map, "RESULT", nullptr), 0); // replaces in place, keeps the row
    EXPECT_EQ(rows(map), (Rows{{"result", "<null>"}, {"SessionID", "AB12CD34_SID"}}));
    EXPECT_EQ(setJsonMapValue(nullptr, "a", "b"), kResultGeneralFailure);
    EXPECT_EQ(setJsonMapValue(map, nullptr, "b"), kResultGeneralFailure);
    freeJsonMap(map);

    Map full = parse(flatObject(128));
    const Rows before = rows(full.get());
    EXPECT_EQ(setJsonMapValue(full.get(), "extra", "x"), kResultGeneralFailure);
    EXPECT_EQ(rows(full.get()), before);
    EXPECT_TRUE(log.contains("[T][Warning] Json map is full, key refused: extra\n"));
    EXPECT_EQ(setJsonMapValue(full.get(), "K5", "changed"), 0); // replacing still works
    EXPECT_EQ(get(full.get(), "k5"), "changed");
}

TEST(JsonMapSerialise, OnlyTextValues) {
    JsonMap* map = newJsonMap();
    char* json = jsonMapToText(map);
    EXPECT_STREQ(json, "{}");
    std::free(json);
    setJsonMapValue(map, "only", nullptr);
    json = jsonMapToText(map);
    EXPECT_STREQ(json, "{}");
    std::free(json);
    setJsonMapValue(map, "k\"ey", "\xe5\x8f\xb0");
    json = jsonMapToText(map);
    EXPECT_STREQ(json, "{\"k\"ey\": \"5Y+w\"}"); // keys as stored, values as Base64
    std::free(json);
    freeJsonMap(map);
    EXPECT_EQ(jsonMapToText(nullptr), nullptr);
}

TEST(JsonMapDecode, ValueFlags) {
    const std::string secret = "0123456789abcdef0123456789ABCDEF-and-more";
    const std::string encrypted = encryptForPage(secret, "C:\\secret pin");
    struct Case {
        std::string members;
        std::string expected;
    } cases[] = {
        {R"("v":"C:*dir")", "C:*dir"},
        {R"("v":"C:*dir","v_VelantoFlag":"TRUE")", "C:\\dir"},
        {R"("v":"C:*dir","v_VelantoFlag":"false")", "C:*dir"},
        {R"("v":"YWJj","v_VelantoBase64Flag":"true")", "abc"},
        {R"("v":"YWJj%3D","v_VelantoBase64Flag":"true")", "abc"},
        {R"("v":"a==VelantoSlash==b","v_VelantoSlashFlag":"True")", "a\\b"},
        // Only the first true companion applies.
        {R"("v":"Q*Q=","v_VelantoFlag":"true","v_VelantoBase64Flag":"true")", "Q\\Q="},
        {R"("v":"a==VelantoSlash==*","v_VelantoSlashFlag":"true","v_VelantoFlag":"true")",
         "a==VelantoSlash==\\"},
        // Companions are read raw, never decoded themselves.
        {R"("v":"*","v_VelantoFlag":"dHJ1ZQ==","v_VelantoFlag_VelantoBase64Flag":"true")", "*"},
        {R"("v":")" + encrypted + R"(","v_VelantoEncryptFlag":"true","Velanto_share_secret":")" +
             secret + R"(")",
         "C:\\secret pin"},
        // Made by another AES implementation, as a page would: key = the secret's first 32
        // bytes, vector = "KestovaQvCAPIIV1".
        {R"("v":"6e4bfcf4d1e1d2a94207db38777218148a547eca4909a6ae65d34f6db1c7a17f",)"
         R"("v_VelantoEncryptFlag":"true","Velanto_share_secret":"0123456789abcdef0123456789abcdef")",
         "1234"},
        // Encrypted beats every other flag.
        {R"("v":")" + encrypted +
             R"(","v_VelantoEncryptFlag":"true","v_VelantoFlag":"true",)"
             R"("Velanto_share_secret":")" +
             secret + R"(")",
         "C:\\secret pin"},
        // Failures return the raw value: no secret, short secret, wrong secret.
        {R"("v":")" + encrypted + R"(","v_VelantoEncryptFlag":"true")", encrypted},
        {R"("v":")" + encrypted + R"(","v_VelantoEncryptFlag":"true","Velanto_share_secret":")" +
             secret.substr(0, 31) + R"(")",
         encrypted},
        {R"("v":")" + encrypted + R"(","v_VelantoEncryptFlag":"true","Velanto_share_secret":")" +
             std::string(40, 'x') + R"(")",
         encrypted},
        {R"("v":"abc","v_VelantoEncryptFlag":"true","Velanto_share_secret":")" + secret + R"(")",
         "abc"},
    };
    LogCapture log;
    for (const auto& c : cases) {
        Map map = parse("{" + c.members + "}");
        ASSERT_NE(map, nullptr) << c.members;
        EXPECT_EQ(get(map.get(), "v"), c.expected) << c.members;
    }
    EXPECT_TRUE(log.contains("[T][Normal] find key: Velanto_share_secret\n"));
    EXPECT_TRUE(log.contains("[T][Error] Memory allocate fail at file: Json.cpp\n"));

    Map map = parse(R"({"v":"1"})");
    EXPECT_EQ(decodeJsonMapValue(map.get(), "v", nullptr), nullptr);
    EXPECT_STREQ(heap(decodeJsonMapValue(nullptr, "v", "raw")).get(), "raw");
    EXPECT_STREQ(heap(decodeJsonMapValue(map.get(), nullptr, "raw")).get(), "raw");
}

TEST(JsonMapGetters, IntAndBool) {
    Map map = parse(R"({"n": 12, "t": true, "f": "FALSE", "s":"  -7x", "w":"abc",)"
                    R"("b":"MTI=", "b_VelantoBase64Flag":"true", "big":"99999999999"})");
    EXPECT_EQ(getJsonMapInt(map.get(), "n"), 12);
    EXPECT_EQ(getJsonMapInt(map.get(), "t"), 1);
    EXPECT_EQ(getJsonMapInt(map.get(), "f"), 0);
    EXPECT_EQ(getJsonMapInt(map.get(), "s"), -7);
    EXPECT_EQ(getJsonMapInt(map.get(), "w"), 0);
    EXPECT_EQ(getJsonMapInt(map.get(), "b"), 12); // decoded first
    EXPECT_EQ(getJsonMapInt(map.get(), "big"), 2147483647);
    EXPECT_EQ(getJsonMapInt(map.get(), "absent"), 0);
    EXPECT_TRUE(getJsonMapBool(map.get(), "t"));
    EXPECT_FALSE(getJsonMapBool(map.get(), "f"));
    EXPECT_FALSE(getJsonMapBool(map.get(), "n"));
    EXPECT_FALSE(getJsonMapBool(map.get(), "absent"));
    EXPECT_FALSE(getJsonMapBool(nullptr, "t"));
}

TEST(JsonMapDisplay, HidingRules) {
    LogCapture log;
    Map map = parse(R"({"UserPassword":"hunter2","Velanto_share_secret":"s3cret",)"
                    R"("Token":"tok","Token_VelantoHide":"true","PinCode":"1234","pw":"x",)"
                    R"("Plain":"visible","Empty":""})");
    setJsonMapValue(map.get(), "Nothing", nullptr);
    displayJsonMap(map.get());
    const std::string text = log.text();
    for (const char* expected :
         {"[T][Normal] = DISPLAY PARAMETER ===== start =====\n",
          "[T][Normal] UserPassword: *******\n", "[T][Normal] Velanto_share_secret: s3cret\n",
          "[T][Normal] Token: ***\n", "[T][Normal] Token_VelantoHide: true\n",
          "[T][Normal] PinCode: ****\n", "[T][Normal] pw: *\n", "[T][Normal] Plain: visible\n",
          "[T][Normal] Empty: \n", "[T][Normal] Nothing: [empty]\n",
          "[T][Normal] = DISPLAY PARAMETER ===== end =====\n"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
}

TEST(JsonMapDisplay, EncryptedHideCompanionDoesNotRecurse) {
    LogCapture log;
    Map map = parse(R"({"R":"1","R_VelantoHide":"00","R_VelantoHide_VelantoEncryptFlag":"true",)"
                    R"("Velanto_share_secret":"0123456789abcdef0123456789abcdef"})");
    displayJsonMap(map.get());
    EXPECT_TRUE(log.contains("[T][Normal] R: 1\n"));
}

TEST(JsonMapDisplay, SilentWhileLoggingIsOff) {
    Map map = parse(R"({"a":"1"})");
    displayJsonMap(map.get()); // nothing to write to, nothing written
    EXPECT_FALSE(exists(LogCapture::dir()));
}

// Text, number and encoding tools.
#include "Sandbox.h"
#include "VelantoUtil/Tool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <atomic>
#include <thread>
#include <vector>

using testsupport::heap;

namespace {

std::vector<std::string> split(const char* text, const char* delimiter) {
    std::vector<std::string> pieces;
    char** array = splitString(text, delimiter);
    if (!array) return {"<null>"};
    for (char** p = array; *p; ++p)
        pieces.push_back(*p);
    freeStringArray(array);
    return pieces;
}

std::string str(const char* text) {
    return text ? std::string(text) : std::string("<null>");
}

} // namespace

TEST(CompareVersion, Table) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"1.0.23.0510", "1.0.23.510", 0},
        {"1.0.9", "1.0.10", -1},
        {"1.0.10", "1.0.9", 1},
        {"1.0", "1.0.0", 3},
        {"1..2", "1.1.2", 61005},
        {"1.0.", "1.0.1", 61005},
        {"1.0.a", "1.0.b", 2},
        {"1.0.a", "1.0.a", 0},
        {"1.0.1", "1.0.x", 2},
        {"1 .0", "1.0", 0},
        {"1,0,20,521", "1.0.20.521", 0},
        {"", "", 0},
        {"-1", "0", -1},
        {"99999999999", "1", 2}, // out of range reads as text
        {nullptr, "1.0", 61001},
        {"1.0", nullptr, 61001},
    };
    for (const auto& c : cases)
        EXPECT_EQ(compareVersion(c.a, c.b), c.expected) << str(c.a) << " vs " << str(c.b);
}

TEST(CompareVersion, LongInputIsCutNotOverrun) {
    std::string longA(2000, '1'), longB(2000, '1');
    longB[1000] = '2'; // beyond the 511 characters that are compared
    EXPECT_EQ(compareVersion(longA.c_str(), longB.c_str()), 0);
}

TEST(SplitString, KeepsEmptyPieces) {
    EXPECT_EQ(split("a,,b,", ","), (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(split("a::b", "::"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(split("abc", ","), (std::vector<std::string>{"abc"}));
    EXPECT_TRUE(split("", ",").empty());
    EXPECT_TRUE(split(nullptr, ",").empty());
    EXPECT_TRUE(split("a,b", "").empty());
    EXPECT_TRUE(split("a,b", nullptr).empty());
}

TEST(TextTools, PadLeft) {
    EXPECT_EQ(str(heap(padLeft("7", 2, '0')).get()), "07");
    EXPECT_EQ(str(heap(padLeft("12345678", 16, ' ')).get()), "        12345678");
    EXPECT_EQ(str(heap(padLeft("", 3, '-')).get()), "---");
    EXPECT_EQ(str(heap(padLeft("toolong", 3, '0')).get()), "toolong");
    EXPECT_EQ(padLeft(nullptr, 2, '0'), nullptr);
}

TEST(TextTools, ReplaceString) {
    struct Case {
        const char* source;
        const char* find;
        const char* replacement;
        const char* expected;
    } cases[] = {
        {"aXbXc", "X", "YY", "aYYbYYc"},
        {"aaaa", "aa", "b", "bb"}, // left to right, no overlap
        {"aaa", "aa", "b", "ba"},
        {"KestovaQvCAPIVelanto.exe", ".exe", "", "KestovaQvCAPIVelanto"},
        {"abc", nullptr, "x", "abc"}, // null find counts as empty
        {"abc", "", "x", "abc"},
        {"abc", "b", nullptr, "ac"}, // null replacement counts as empty
        {"", "a", "b", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(str(heap(replaceString(c.source, c.find, c.replacement)).get()), c.expected);
    EXPECT_EQ(replaceString(nullptr, "a", "b"), nullptr);

    auto wideResult = heap(replaceWideString(L"Caf\u00e9\U0001F600.exe", L".exe", L""));
    EXPECT_EQ(std::wstring(wideResult.get()), L"Caf\u00e9\U0001F600");
}

TEST(TextTools, UnescapeControlChars) {
    auto text = heap(unescapeControlChars("a\\r\\nb\\tc\\u000f\\u000e\\u001b\\\"d\\\\x"));
    EXPECT_EQ(str(text.get()), std::string("a\r\nb\tc\x0f\x0e\x1b\"d\\\\x"));
    EXPECT_EQ(unescapeControlChars(nullptr), nullptr);
}

TEST(TextTools, SmallHelpers) {
    EXPECT_EQ(str(heap(toLowerCopy("AbC-ÄZ")).get()), "abc-Äz");
    EXPECT_EQ(toLowerCopy(nullptr), nullptr);

    EXPECT_TRUE(startsWith("Kes", "Kestova"));
    EXPECT_FALSE(startsWith("kes", "Kestova"));
    EXPECT_TRUE(startsWith(nullptr, "Kestova"));
    EXPECT_FALSE(startsWith("K", nullptr));
    EXPECT_FALSE(startsWith("Kestova!", "Kestova"));

    const char buffer[8] = {'a', 'b', '\0', 'd', 'e', 'f', 'g', 'h'};
    auto piece = heap(subString(buffer, 1, 5)); // crosses the terminator on purpose
    EXPECT_EQ(std::memcmp(piece.get(), "b\0de", 4), 0);
    EXPECT_EQ(piece.get()[4], '\0');
    EXPECT_EQ(subString(buffer, 3, 3), nullptr);
    EXPECT_EQ(subString(nullptr, 0, 3), nullptr);

    EXPECT_TRUE(isDisplayNameFile("C:/x/ComponentDisplayName.txt"));
    EXPECT_TRUE(isDisplayNameFile("DisplayName.txt"));
    EXPECT_FALSE(isDisplayNameFile("displayname.txt"));
    EXPECT_FALSE(isDisplayNameFile("DisplayName.txt.bak"));
    EXPECT_FALSE(isDisplayNameFile(nullptr));

    EXPECT_EQ(allocZeroed(0), nullptr);
    EXPECT_EQ(allocZeroed(2147483648u), nullptr);
    EXPECT_EQ(dupString(nullptr), nullptr);
    EXPECT_EQ(dupWideString(nullptr), nullptr);
}

TEST(TextTools, WideConversionRoundTrip) {
    const char* utf8 = "Kestova \xe5\x8f\xb0\xe7\x81\xa3 \xf0\x9f\x98\x80";
    auto wideText = heap(narrowToWide(utf8));
    EXPECT_EQ(std::wstring(wideText.get()), L"Kestova \u53f0\u7063 \U0001F600");
    auto back = heap(wideToNarrow(wideText.get()));
    EXPECT_STREQ(back.get(), utf8);
    // Bad UTF-8 never crashes and never swallows the rest.
    auto bad = heap(narrowToWide("a\xff\xc3(b\xe2\x82"));
    EXPECT_EQ(std::wstring(bad.get()), L"a\uFFFD\uFFFD(b\uFFFD\uFFFD");
    EXPECT_EQ(narrowToWide(nullptr), nullptr);
}

TEST(Conversions, ParseDecimalAndHex) {
    struct Case {
        const char* text;
        bool digitsOnly;
        int value;
        int outcome;
    } decimals[] = {
        {"123", true, 123, 0},
        {"-42", true, -42, 0},
        {"12a", true, 0, 61003},
        {"12a", false, 12, 0},
        {" 7", false, 7, 0},
        {" 7", true, 0, 61003},
        {"", true, 0, 61003},
        {"-", true, 0, 61003},
        {"abc", false, 0, 61003},
        {"2147483647", true, 2147483647, 0},
        {"2147483648", true, 0, 61003},
        {"-2147483649", false, 0, 61003},
        {nullptr, true, 0, 61004},
    };
    for (const auto& c : decimals) {
        EXPECT_EQ(parseDecimal(c.text, c.digitsOnly), c.value) << str(c.text);
        EXPECT_EQ(lastConversionResult(), c.outcome) << str(c.text);
        EXPECT_EQ(lastConversionFailed(), c.outcome != 0) << str(c.text);
    }
    struct HexCase {
        const char* text;
        int value;
        int outcome;
    } hexes[] = {
        {"ff", 255, 0},   {"7FFFFFFF", 0x7FFFFFFF, 0}, {"FFFFFFFF", 0, 61003}, {"0x1A", 26, 0},
        {"zz", 0, 61003}, {nullptr, 0, 61004},
    };
    for (const auto& c : hexes) {
        EXPECT_EQ(parseHex(c.text), c.value) << str(c.text);
        EXPECT_EQ(lastConversionResult(), c.outcome) << str(c.text);
    }
}

TEST(Conversions, OwnOutcomeAndSharedOutcome) {
    int outcome = -1;
    EXPECT_EQ(parseNumber("ff", 16, false, &outcome), 255);
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(parseNumber("12a", 10, true, &outcome), 0);
    EXPECT_EQ(outcome, 61003);
    EXPECT_EQ(parseNumber(nullptr, 10, false, &outcome), 0);
    EXPECT_EQ(outcome, 61004);
    // The shared outcome is the last one in the process; version comparison does not
    // depend on it, so threads comparing at once do not disturb each other.
    parseDecimal("bad", true);
    std::thread([] { parseDecimal("5", true); }).join();
    EXPECT_FALSE(lastConversionFailed());
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (t % 2 ? compareVersion("1.0.a", "1.0.b") != 2
                          : compareVersion("1.0.9", "1.0.10") != -1)
                    ++wrong;
                parseDecimal(t % 2 ? "x" : "1", true);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Encodings, Base64) {
    EXPECT_STREQ(heap(base64Encode("ABC")).get(), "QUJD");
    EXPECT_STREQ(heap(base64Encode("AB")).get(), "QUI=");
    EXPECT_STREQ(heap(base64Encode("A")).get(), "QQ==");
    EXPECT_STREQ(heap(base64Encode("")).get(), "");
    const unsigned char bytes[] = {0xfb, 0xff, 0x00, 0x10};
    EXPECT_STREQ(heap(base64Encode(bytes, sizeof(bytes))).get(), "+/8AEA==");
    EXPECT_EQ(base64Encode(static_cast<const char*>(nullptr)), nullptr);

    struct Case {
        const char* text;
        std::string bytes;
    } cases[] = {
        {"QUJD%3D", "ABC"},
        {"QUJD", "ABC"},
        {"QUI=", "AB"},
        {"QQ==", "A"},
        {"QUI", "AB"},
        {"QQ", "A"},
        {"Q", ""},
        {"", ""},
        {"%2B%2F8AEA%3D%3D", std::string("\xfb\xff\x00\x10", 4)},
        {"QUJD QUJD", "ABC"}, // stops at the first character outside the alphabet
        {"QUJD=QUJD", "ABC"},
    };
    for (const auto& c : cases) {
        size_t length = 99;
        auto decoded = heap(decodeEscapedBase64(c.text, &length));
        ASSERT_NE(decoded, nullptr) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(decoded.get()), length), c.bytes) << c.text;
        EXPECT_EQ(decoded.get()[length], 0) << c.text;
    }
    EXPECT_EQ(decodeEscapedBase64(nullptr, nullptr), nullptr);
}

TEST(Encodings, HexToBytes) {
    struct Case {
        const char* text;
        std::string bytes;
    } cases[] = {
        {"4g", "\x40"},
        {"414", "\x41"},
        {"4142aB", "AB\xab"},
        {"", ""},
        {"zz", std::string(1, '\0')},
    };
    for (const auto& c : cases) {
        size_t length = 99;
        auto bytes = heap(hexToBytes(c.text, &length));
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes.get()), length), c.bytes) << c.text;
    }
    EXPECT_EQ(hexToBytes(nullptr, nullptr), nullptr);
}

TEST(JsonValue, FlatObjectLookup) {
    const char* json = "{\"From\":\"Monitor\", \"Instruction\":\"Velanto\\\"Start\\\"\", "
                       "\"Count\":12, \"Flag\":true, \"Nested\":{\"a\":1}}";
    EXPECT_EQ(str(heap(getJsonValue(json, "instruction")).get()), "Velanto\"Start\"");
    EXPECT_EQ(str(heap(getJsonValue(json, "FROM")).get()), "Monitor");
    EXPECT_EQ(str(heap(getJsonValue(json, "count")).get()), "12");
    EXPECT_EQ(str(heap(getJsonValue(json, "flag")).get()), "true");
    EXPECT_EQ(str(heap(getJsonValue(json, "nested")).get()), "{\"a\":1}");
    EXPECT_EQ(getJsonValue(json, "missing"), nullptr);
    EXPECT_EQ(getJsonValue("{}", "a"), nullptr);
    EXPECT_EQ(getJsonValue("{\"a\":", "a"), nullptr); // tokenizer error
    EXPECT_EQ(getJsonValue(nullptr, "a"), nullptr);
    EXPECT_EQ(getJsonValue(json, nullptr), nullptr);

    std::string big = "{";
    for (int i = 0; i < 40; ++i)
        big += "\"k" + std::to_string(i) + "\":1,";
    big += "\"last\":2}";
    EXPECT_EQ(getJsonValue(big.c_str(), "k0"), nullptr); // needs more than 64 tokens
}

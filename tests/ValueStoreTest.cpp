// The domain check and the shared value store.
#include "LogCapture.h"
#include "VelantoSession/VelantoValue.h"
#include "VelantoUtil/AES.h"
#include "VelantoUtil/checkURL.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::int64_t fakeNow = 1000;
std::int64_t fakeClock() {
    return fakeNow;
}

bool allowed(const char* domains, const char* origin) {
    setUnlockURL(domains);
    checkURL(origin);
    const bool passed = urlCheckPassed();
    clearUnlockURL();
    return passed;
}

std::string fetch(const char* channel, const char* origin) {
    char* value = fetchValue(channel, origin);
    std::string text = value ? value : "<null>";
    std::free(value);
    return text;
}

class ValueStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsigned char key[32], vector[32];
        for (int i = 0; i < 32; ++i)
            key[i] = static_cast<unsigned char>(i), vector[i] = static_cast<unsigned char>(100 + i);
        setValueStoreCipher(key, vector);
        clearValueStore();
        fakeNow = 1000;
        setValueClock(fakeClock);
    }
    void TearDown() override {
        clearValueStore();
        setValueClock(nullptr);
    }
};

} // namespace

TEST(DomainCheck, Table) {
    struct Case {
        const char* domains;
        const char* origin;
        bool expected;
    } cases[] = {
        {"example.com;*.example.org", "https://shop.example.org", true},
        {"example.com;*.example.org", "https://example.org:8443", false}, // needs a dot first
        {"example.com;*.example.org", "https://example.com:8443", true},  // the port goes
        {"example.com;*.example.org", "https://EXAMPLE.COM", true},
        {"example.com", "HTTP://example.com", false},           // the scheme is removed as written
        {"example.com", "https://example.com.evil.net", false}, // whole host only
        {"example.com", "https://example.com/", true},
        {"example.com", "https://example.com/path", false}, // not a bare origin
        {"example.com", "ftp://example.com", false},
        {"127.0.0.1", "http://127.0.0.1:56435", true},
        {"*", "https://[::1]:56435", false}, // not a URL here
        {" .example.org ; ", "https://a.example.org", true},
        {"example.", "https://example.co", true},       // "example.*"
        {"exa(mple.com", "https://example.com", false}, // bad pattern
        {"", "https://example.com", false},
        {"example.com", nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(allowed(c.domains, c.origin ? c.origin : ""), c.expected)
            << c.domains << " / " << (c.origin ? c.origin : "<null>");

    setUnlockURL(" .example.org ; ");
    EXPECT_EQ(unlockUrlList(), std::vector<std::string>{"\\S*\\.example\\.org"});
    clearUnlockURL();

    // A very long origin is refused before any pattern sees it.
    std::string longOrigin = "https://";
    for (int i = 0; i < 300; ++i)
        longOrigin += "a.";
    longOrigin += "com";
    EXPECT_FALSE(allowed("*", longOrigin.c_str()));
}

TEST(DomainCheck, FailuresAreLogged) {
    LogCapture log;
    EXPECT_FALSE(allowed("exa(mple.com", "https://example.com"));
    EXPECT_FALSE(allowed("example.com", "https://[::1]"));
    EXPECT_TRUE(allowed("a.test;b.test", "https://b.test"));
    EXPECT_TRUE(log.contains("[T][Warning] unlock exception: "));
    EXPECT_TRUE(log.contains("[T][Warning] [Warning] Input domain is not url\n"));
    EXPECT_TRUE(log.contains("[T][Normal] Url check list: a.test\n"));
    EXPECT_TRUE(log.contains("[T][Normal] Unlock original domain input: https://b.test\n"));
}

TEST_F(ValueStoreTest, StoreAndFetchAcrossDomains) {
    ASSERT_EQ(storeValue("Token", "example.com;*.example.org", 5, "abc"), 0);
    EXPECT_EQ(fetch("token", "https://shop.example.org"), "abc");
    EXPECT_EQ(fetch("token", "https://example.org:8443"), "");
    EXPECT_EQ(fetch("TOKEN", "https://example.com:8443"), "abc");
    EXPECT_EQ(fetch("other", "https://example.com"), "");
    EXPECT_TRUE(unlockUrlList().empty()); // cleared after every fetch

    // Kept only encrypted.
    const ValueSlot& slot = valueSlot(0);
    EXPECT_STREQ(slot.channel, "Token");
    const std::string cipher(reinterpret_cast<char*>(slot.cipher),
                             static_cast<size_t>(slot.cipherLength));
    EXPECT_EQ(cipher.find("abc"), std::string::npos);

    // The same channel in another case reuses the slot and keeps its name.
    ASSERT_EQ(storeValue("TOKEN", "example.com", 0, "xyz"), 0);
    EXPECT_STREQ(valueSlot(0).channel, "Token");
    EXPECT_EQ(valueSlot(1).channel, nullptr);
    EXPECT_EQ(fetch("token", "https://example.com"), "xyz");
    EXPECT_EQ(fetch("token", "https://shop.example.org"), "");
}

TEST_F(ValueStoreTest, IdleTimeOutIsPushedByEachRead) {
    ASSERT_EQ(storeValue("c", "example.com", 1, "v"), 0);
    fakeNow = 1050;
    EXPECT_EQ(fetch("c", "https://example.com"), "v");
    fakeNow = 1100; // past the first minute, within a minute of the last read
    EXPECT_EQ(fetch("c", "https://example.com"), "v");
    fakeNow = 1161;
    EXPECT_EQ(fetch("c", "https://example.com"), "");
    EXPECT_EQ(fetch("c", "https://example.com"), "");
    EXPECT_NE(valueSlot(0).channel, nullptr); // refused, not removed
}

TEST_F(ValueStoreTest, FullStore) {
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(storeValue(("c" + std::to_string(i)).c_str(), "example.com", 0, "v"), 0);
    // Values without time-out always give way: all sixteen go, the new one takes slot 15.
    ASSERT_EQ(storeValue("c16", "example.com", 0, "new"), 0);
    EXPECT_STREQ(valueSlot(15).channel, "c16");
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(valueSlot(i).channel, nullptr) << i;
    EXPECT_EQ(fetch("c0", "https://example.com"), "");

    clearValueStore();
    LogCapture log;
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(storeValue(("t" + std::to_string(i)).c_str(), "example.com", 10, "v"), 0);
    EXPECT_EQ(storeValue("t16", "example.com", 10, "v"), kValueStoreFull);
    EXPECT_TRUE(log.contains("[T][Warning] VelantoValue: Full\n"));
    fakeNow += 10 * 60 + 1; // now all have expired
    EXPECT_EQ(storeValue("t16", "example.com", 10, "v"), 0);
    EXPECT_STREQ(valueSlot(15).channel, "t16");
}

TEST_F(ValueStoreTest, BadInputAndDecryptionFailure) {
    EXPECT_EQ(storeValue(nullptr, "d", 0, "v"), kValueMissingArgument);
    EXPECT_EQ(storeValue("c", nullptr, 0, "v"), kValueMissingArgument);
    EXPECT_EQ(storeValue("c", "d", 0, nullptr), kValueMissingArgument);
    EXPECT_EQ(storeValue("c", "d", -1, "v"), kValueMissingArgument);
    EXPECT_EQ(fetch(nullptr, "https://a.test"), "");
    EXPECT_EQ(fetch("c", nullptr), "");

    ASSERT_EQ(storeValue("c", "a.test", 0, "secret"), 0);
    unsigned char otherKey[32], vector[32];
    for (int i = 0; i < 32; ++i)
        otherKey[i] = static_cast<unsigned char>(200 - i),
        vector[i] = static_cast<unsigned char>(100 + i);
    setValueStoreCipher(otherKey, vector); // as after a restart: the old value is unreadable
    EXPECT_EQ(fetch("c", "https://a.test"), "<null>");
}

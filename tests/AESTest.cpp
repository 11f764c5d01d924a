// The text cipher and the digest.
#include "LogCapture.h"
#include "Sandbox.h"
#include "VelantoUtil/AES.h"
#include "VelantoUtil/Tool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::vector<unsigned char> fromHex(const std::string& hex) {
    std::size_t length = 0;
    auto bytes = heap(hexToBytes(hex.c_str(), &length));
    return std::vector<unsigned char>(bytes.get(), bytes.get() + length);
}

std::string toHex(const unsigned char* bytes, std::size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < length; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0xF];
    }
    return hex;
}

// Key 00..1f and vector f0 e0 .. 00; the expected ciphertexts come from OpenSSL.
const std::vector<unsigned char> kKey =
    fromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
const std::vector<unsigned char> kVector =
    fromHex("f0e0d0c0b0a090807060504030201000f0e0d0c0b0a090807060504030201000");

std::string decrypt(const std::string& hex, const std::vector<unsigned char>& key = kKey) {
    auto cipher = fromHex(hex);
    auto plain = heap(aesCbcDecrypt(cipher.data(), cipher.size(), key.data(), kVector.data()));
    return plain ? std::string(plain.get()) : std::string("<null>");
}

} // namespace

TEST(Digest, Sha512Hex) {
    EXPECT_STREQ(heap(sha512Hex("abc")).get(),
                 "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
                 "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F");
    EXPECT_STREQ(heap(sha512Hex("")).get(),
                 "CF83E1357EEFB8BDF1542850D66D8007D620E4050B5715DC83F4A921D36CE9CE"
                 "47D0D13C5D85F2B0FF8318D2877EEC2F63B931BD47417A81A538327AF927DA3E");
    EXPECT_EQ(sha512Hex(nullptr), nullptr);
}

TEST(Cipher, EncryptionMatchesAnIndependentImplementation) {
    setValueStoreCipher(kKey.data(), kVector.data());
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"Kestova signing", "89c19712979932439c2b7d7eceeb7ae720080cd6a485465be0c44ef6beee0068"},
        {"", "6bac83af99eb665891c7ae63f006d74d"}, // prefix and terminator fill one block
    };
    for (const auto& c : cases) {
        std::size_t length = 0;
        auto cipher = heap(aesCbcEncrypt(c.text, &length));
        ASSERT_NE(cipher, nullptr);
        EXPECT_EQ(toHex(cipher.get(), length), c.expected) << c.text;
        EXPECT_EQ(decrypt(c.expected), c.text);
    }
}

TEST(Cipher, RoundTripsAtEveryPaddingLength) {
    std::vector<unsigned char> key(32), vector(32);
    genRandom(key.data(), key.size());
    genRandom(vector.data(), vector.size());
    setValueStoreCipher(key.data(), vector.data());
    std::string text;
    for (int length = 0; length <= 40; ++length, text += static_cast<char>('a' + length % 26)) {
        std::size_t size = 0;
        auto cipher = heap(aesCbcEncrypt(text.c_str(), &size));
        ASSERT_NE(cipher, nullptr);
        // 13 prefix bytes and the terminator: a multiple of 16 gets a whole padding block.
        EXPECT_EQ(size, 16 * ((13 + length + 1) / 16 + 1)) << length;
        auto plain = heap(aesCbcDecrypt(cipher.get(), size, valueStoreKey(), valueStoreVector()));
        ASSERT_NE(plain, nullptr);
        EXPECT_EQ(std::string(plain.get()), text);
    }
    std::size_t size = 0;
    EXPECT_EQ(aesCbcEncrypt(nullptr, &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST(Cipher, DecryptionFailuresAndForeignPlaintexts) {
    LogCapture log;
    const unsigned char nothing[1] = {};
    EXPECT_EQ(aesCbcDecrypt(nothing, 0, kKey.data(), kVector.data()), nullptr);
    EXPECT_TRUE(log.contains("[Warning] Error code 336 = 0x150 at "));
    testing::internal::CaptureStdout();
    EXPECT_EQ(decrypt(std::string(66, 'a')), "<null>"); // 33 bytes
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "p->Buse: 1\nbufsize: 16\n");
    EXPECT_TRUE(log.contains("[Warning] Error code 65 = 0x41 at "));
    std::vector<unsigned char> wrongKey(32, 0xFF);
    EXPECT_EQ(decrypt("89c19712979932439c2b7d7eceeb7ae720080cd6a485465be0c44ef6beee0068", wrongKey),
              "<null>");
    EXPECT_TRUE(log.contains("[Warning] Error code 64 = 0x40 at "));

    // Made elsewhere, without the marker: returned whole; padding bytes follow the text
    // only when the sender left out the terminator.
    EXPECT_EQ(decrypt("817acedaafb3f5fccac2ed4435bae447"), "hello");
    EXPECT_EQ(decrypt("ee06eeb7521e14b5cabd844fa7f0cb00"), "hello" + std::string(11, '\x0b'));
    EXPECT_FALSE(log.contains("Remove prefix"));
    EXPECT_EQ(decrypt("6bac83af99eb665891c7ae63f006d74d"), "");
    EXPECT_TRUE(log.contains("[Normal] AES: Remove prefix"));

    const unsigned char block[16] = {};
    EXPECT_EQ(aesCbcDecrypt(nullptr, 16, kKey.data(), kVector.data()), nullptr);
    EXPECT_EQ(aesCbcDecrypt(block, 16, nullptr, kVector.data()), nullptr);
    EXPECT_EQ(aesCbcDecrypt(block, 16, kKey.data(), nullptr), nullptr);
    for (const char* name : {"inputText", "inputKey", "inputIV"})
        EXPECT_TRUE(log.contains(std::string("Parameter ") + name + " is null at AES.cpp")) << name;
}

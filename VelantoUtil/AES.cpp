#include "VelantoUtil/AES.h"

#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"

#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <nettle/sha2.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kBlock = 16;
constexpr std::size_t kKeySize = 32;
constexpr std::size_t kPrefixLength = sizeof(kAesPrefix) - 1;

unsigned char gStoreKey[kKeySize];
unsigned char gStoreVector[kKeySize];

void failure(int code, int line) {
    char text[128];
    std::snprintf(text, sizeof(text), "Error code %d = 0x%X at %d line in %s", code,
                  static_cast<unsigned>(code), line, velantoSourceName(__FILE__));
    logWarning(text, nullptr);
}

} // namespace

void setValueStoreCipher(const unsigned char* key, const unsigned char* vector) {
    if (key) std::memcpy(gStoreKey, key, kKeySize);
    if (vector) std::memcpy(gStoreVector, vector, kKeySize);
}

const unsigned char* valueStoreKey() {
    return gStoreKey;
}
const unsigned char* valueStoreVector() {
    return gStoreVector;
}

unsigned char* aesCbcEncrypt(const char* inputText, std::size_t* outLength) {
    if (outLength) *outLength = 0;
    if (!inputText) {
        REPORT_NULL("inputText");
        return nullptr;
    }
    const std::size_t n = kPrefixLength + std::strlen(inputText) + 1; // terminator included
    const std::size_t padded = kBlock * (n / kBlock + 1);
    auto* plain = static_cast<unsigned char*>(allocZeroed(padded));
    auto* cipher = static_cast<unsigned char*>(allocZeroed(padded));
    if (!plain || !cipher) {
        REPORT_ALLOC_FAIL();
        std::free(plain);
        std::free(cipher);
        return nullptr;
    }
    std::memcpy(plain, kAesPrefix, kPrefixLength);
    std::memcpy(plain + kPrefixLength, inputText, n - kPrefixLength);
    std::memset(plain + n, static_cast<int>(padded - n), padded - n);

    struct aes256_ctx ctx;
    unsigned char iv[kBlock];
    std::memcpy(iv, gStoreVector, kBlock);
    aes256_set_encrypt_key(&ctx, gStoreKey);
    cbc_encrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes256_encrypt), kBlock, iv, padded,
                cipher, plain);
    secureZero(&ctx, sizeof(ctx));
    secureZero(plain, padded);
    std::free(plain);
    if (outLength) *outLength = padded;
    return cipher;
}

char* aesCbcDecrypt(const unsigned char* inputText, std::size_t length,
                    const unsigned char* inputKey, const unsigned char* inputIV) {
    if (!inputText) {
        REPORT_NULL("inputText");
        return nullptr;
    }
    if (!inputKey) {
        REPORT_NULL("inputKey");
        return nullptr;
    }
    if (!inputIV) {
        REPORT_NULL("inputIV");
        return nullptr;
    }
    if (length == 0) {
        failure(kAesEmpty, __LINE__);
        return nullptr;
    }
    if (length % kBlock != 0) {
        std::printf("p->Buse: %d\n", static_cast<int>(length % kBlock));
        std::printf("bufsize: %d\n", static_cast<int>(kBlock));
        failure(kAesBadLength, __LINE__);
        return nullptr;
    }
    auto* plain = static_cast<unsigned char*>(allocZeroed(length + 1));
    if (!plain) {
        REPORT_ALLOC_FAIL();
        return nullptr;
    }
    struct aes256_ctx ctx;
    unsigned char iv[kBlock];
    std::memcpy(iv, inputIV, kBlock);
    aes256_set_decrypt_key(&ctx, inputKey);
    cbc_decrypt(&ctx, reinterpret_cast<nettle_cipher_func*>(aes256_decrypt), kBlock, iv, length,
                plain, inputText);
    secureZero(&ctx, sizeof(ctx));

    const unsigned v = plain[length - 1];
    bool padded = v <= kBlock;
    for (unsigned i = 1; padded && i <= v; ++i)
        padded = plain[length - i] == v;
    if (!padded) {
        failure(kAesBadPadding, __LINE__);
        secureZero(plain, length);
        std::free(plain);
        return nullptr;
    }

    char* text = reinterpret_cast<char*>(plain);
    if (std::strncmp(text, kAesPrefix, kPrefixLength) != 0) return text;
    logNormal("AES: ", "Remove prefix");
    char* stripped = dupString(text + kPrefixLength);
    if (!genRandom(plain, length)) std::memset(plain, 0, length);
    std::free(plain);
    if (!stripped) REPORT_ALLOC_FAIL();
    return stripped;
}

char* sha512Hex(const char* text) {
    if (!text) return nullptr;
    struct sha512_ctx ctx;
    unsigned char digest[SHA512_DIGEST_SIZE];
    sha512_init(&ctx);
    sha512_update(&ctx, std::strlen(text), reinterpret_cast<const unsigned char*>(text));
    sha512_digest(&ctx, sizeof(digest), digest);
    secureZero(&ctx, sizeof(ctx));
    char* hex = static_cast<char*>(allocZeroed(2 * sizeof(digest) + 1));
    if (!hex) {
        REPORT_ALLOC_FAIL();
        return nullptr;
    }
    static const char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < sizeof(digest); ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    return hex;
}

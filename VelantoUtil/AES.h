// AES-256-CBC text cipher (PKCS#7) and the SHA-512 hex digest, on nettle.
#pragma once

#include <cstddef>

// Every text encrypted here starts with this marker; decryption removes it.
constexpr char kAesPrefix[] = "VelantoAESCBC";

// Decryption failures.
constexpr int kAesBadPadding = 64;
constexpr int kAesBadLength = 65;
constexpr int kAesEmpty = 336;

// The value store's key (32 bytes) and vector area (32 bytes, the first 16 are the vector),
// set once at start-up before any request is served.
void setValueStoreCipher(const unsigned char* key, const unsigned char* vector);
const unsigned char* valueStoreKey();
const unsigned char* valueStoreVector();

// Encrypts "VelantoAESCBC" + text (terminator included) with the value store's key and
// vector; the ciphertext length goes to outLength.
unsigned char* aesCbcEncrypt(const char* inputText, std::size_t* outLength);
// Decrypts whole blocks; the text follows the marker when present. Null on failure.
char* aesCbcDecrypt(const unsigned char* inputText, std::size_t length,
                    const unsigned char* inputKey, const unsigned char* inputIV);
// 128 upper-case hexadecimal digits.
char* sha512Hex(const char* text);

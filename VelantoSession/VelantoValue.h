// The shared value store: short texts left by one page for pages of allowed domains, kept
// only in memory and only encrypted, under the store's per-start key.
#pragma once

#include <cstdint>

constexpr int kValueSlots = 16;
constexpr int kValueMissingArgument = 61005;
constexpr int kValueStoreFull = 61019;

struct ValueSlot {
    char* channel; // null when the slot is free; compared ignoring case
    char* domainList;
    std::int32_t timeoutMinutes; // 0: never expires
    std::int64_t expiry;         // seconds since 1970; 0 when timeoutMinutes is 0
    unsigned char* cipher;
    std::int32_t cipherLength;
};

// Frees every slot (the session module does this at start, with the new key in place).
void clearValueStore();
// 0, 61005 (missing argument or negative time-out) or 61019 (full, nothing expired).
int storeValue(const char* channel, const char* domain_list, int timeoutMinutes, const char* value);
// The value, or an empty text when withheld (unknown channel, origin not allowed, expired);
// null when it cannot be decrypted.
char* fetchValue(const char* channel, const char* domain);
const ValueSlot& valueSlot(int index);
// The clock the store reads (seconds since 1970); tests set their own.
void setValueClock(std::int64_t (*now)());

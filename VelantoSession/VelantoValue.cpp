#include "VelantoSession/VelantoValue.h"

#include "VelantoUtil/AES.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/checkURL.h"
#include "VelantoUtil/platform/Platform.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

ValueSlot slots[kValueSlots];
std::int64_t (*valueClock)() = platform::unixTimeNow;

int low32(std::int64_t time) {
    return static_cast<int>(static_cast<std::uint32_t>(time));
}

void freeCipher(ValueSlot& slot) {
    if (slot.cipher) {
        secureZero(slot.cipher, static_cast<std::size_t>(slot.cipherLength));
        std::free(slot.cipher);
    }
    slot.cipher = nullptr;
    slot.cipherLength = 0;
}

void clearSlot(ValueSlot& slot) {
    freeZeroed(slot.channel);
    freeZeroed(slot.domainList);
    freeCipher(slot);
    slot = ValueSlot{};
}

int findSlot(const char* channel) {
    for (int i = 0; i < kValueSlots; ++i)
        if (slots[i].channel && strcasecmp(slots[i].channel, channel) == 0) return i;
    return -1;
}

char* emptyText() {
    return static_cast<char*>(allocZeroed(1));
}

char* fetchChecked(const char* channel, const char* domain) {
    const int index = findSlot(channel);
    if (index < 0) {
        logWarning("VelantoValue no current channel", channel);
        return emptyText();
    }
    ValueSlot& slot = slots[index];
    setUnlockURL(slot.domainList);
    checkURL(domain);
    if (!urlCheckPassed()) {
        logWarning("VelantoValue url check fail", domain);
        return emptyText();
    }
    if (slot.expiry == 0) {
        logNormal("VelantoValue: ", "No expired time");
    } else {
        const std::int64_t now = valueClock();
        logNormalInt("VelantoValue current_time: ", low32(now));
        if (now > slot.expiry) {
            logWarning("VelantoValue: ", "Timeout");
            logWarningInt("VelantoValue expired_time: ", low32(slot.expiry));
            return emptyText();
        }
        slot.expiry = now + 60LL * slot.timeoutMinutes;
        logNormalInt("VelantoValue update expired_time: ", low32(slot.expiry));
    }
    char* value = slot.cipher
                      ? aesCbcDecrypt(slot.cipher, static_cast<std::size_t>(slot.cipherLength),
                                      valueStoreKey(), valueStoreVector())
                      : nullptr;
    if (!value) REPORT_ALLOC_FAIL();
    return value;
}

} // namespace

void clearValueStore() {
    for (auto& slot : slots)
        clearSlot(slot);
}

int storeValue(const char* channel, const char* domain_list, int timeoutMinutes,
               const char* value) {
    if (!channel || !domain_list || !value) {
        if (!channel) REPORT_NULL("channel");
        if (!domain_list) REPORT_NULL("domain_list");
        if (!value) REPORT_NULL("value");
        return kValueMissingArgument;
    }
    if (timeoutMinutes < 0) return kValueMissingArgument;

    int index = findSlot(channel);
    if (index < 0) {
        for (int i = 0; i < kValueSlots && index < 0; ++i)
            if (!slots[i].channel) index = i;
        if (index >= 0) {
            slots[index].channel = dupString(channel);
            if (!slots[index].channel) {
                REPORT_ALLOC_FAIL();
                return kResultGeneralFailure;
            }
        }
    }
    if (index < 0) {
        // Room is made from values past their expiry; a value without time-out has expiry 0
        // and always gives way.
        const std::int64_t now = valueClock();
        for (int i = 0; i < kValueSlots; ++i) {
            if (slots[i].expiry < now) {
                clearSlot(slots[i]);
                index = i;
            }
        }
        if (index < 0) {
            logWarning("VelantoValue: ", "Full");
            return kValueStoreFull;
        }
        slots[index].channel = dupString(channel);
        if (!slots[index].channel) {
            REPORT_ALLOC_FAIL();
            return kResultGeneralFailure;
        }
    }
    ValueSlot& slot = slots[index];
    char* domains = dupString(domain_list);
    if (!domains) {
        REPORT_ALLOC_FAIL();
        return kResultGeneralFailure;
    }
    freeZeroed(slot.domainList);
    slot.domainList = domains;
    slot.timeoutMinutes = timeoutMinutes;
    slot.expiry = timeoutMinutes != 0 ? valueClock() + 60LL * timeoutMinutes : 0;
    freeCipher(slot);
    std::size_t length = 0;
    slot.cipher = aesCbcEncrypt(value, &length);
    if (slot.cipher)
        slot.cipherLength = static_cast<std::int32_t>(length);
    else
        REPORT_ALLOC_FAIL();
    return 0;
}

char* fetchValue(const char* channel, const char* domain) {
    if (!channel || !domain) {
        if (!channel) REPORT_NULL("channel");
        if (!domain) REPORT_NULL("domain");
        return emptyText();
    }
    char* answer = fetchChecked(channel, domain);
    clearUnlockURL();
    return answer;
}

const ValueSlot& valueSlot(int index) {
    return slots[index];
}

void setValueClock(std::int64_t (*now)()) {
    valueClock = now ? now : platform::unixTimeNow;
}

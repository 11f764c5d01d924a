#include "Velanto/Key.h"

#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <cstddef>
#include <cstdlib>

namespace {

#include "Velanto/certs/ServerKeys.inc"
#include "Certificates.inc"

char* unmask(const unsigned char* masked, const unsigned char* pad, std::size_t length) {
    auto* text = static_cast<char*>(allocZeroed(length + 1));
    if (!text) {
        REPORT_ALLOC_FAIL();
        return nullptr;
    }
    for (std::size_t i = 0; i < length; ++i)
        text[i] = static_cast<char>(masked[i] ^ pad[i]);
    return text;
}

} // namespace

char* obtainServerKey(bool rsa) {
    platform::markNotDumpable();
    if (platform::tracerAttached()) {
        logWarning("Key store: ", "Refused while traced");
        return nullptr;
    }
    return rsa ? unmask(kServerKeyRsaMasked, kServerKeyRsaPad, sizeof(kServerKeyRsaMasked))
               : unmask(kServerKeyEccMasked, kServerKeyEccPad, sizeof(kServerKeyEccMasked));
}

void releaseServerKey(char** key) {
    if (!key || !*key) return;
    freeZeroed(*key);
    *key = nullptr;
}

const char* serverCertificate(bool rsa) {
    return rsa ? kServerRsaPem : kServerEccPem;
}
const char* rootCertificate(bool rsa) {
    return rsa ? kRootRsaPem : kRootEccPem;
}

// The text decoders a request passes through: escaped Base64, hexadecimal, and the
// decryption of hexadecimal ciphertext.
#include "FuzzSandbox.h"
#include "VelantoUtil/AES.h"
#include "VelantoUtil/Tool.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzSandbox();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t length = 0;
    std::free(decodeEscapedBase64(text.c_str(), &length));
    unsigned char* bytes = hexToBytes(text.c_str(), &length);
    if (bytes) {
        static const unsigned char key[32] = {1, 2, 3};
        static const unsigned char vector[16] = {4, 5, 6};
        std::free(aesCbcDecrypt(bytes, length, key, vector));
        std::free(bytes);
    }
    std::free(unescapeControlChars(text.c_str()));
    return 0;
}

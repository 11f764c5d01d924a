#include "VelantoUtil/Json.h"

#include "VelantoUtil/AES.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"

#define JSMN_HEADER
#include <jsmn.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

std::atomic<bool> keyCheckArmed{false};
std::atomic<int> lastErrorCode{0};

namespace {

constexpr char kShareSecret[] = "Velanto_share_secret";
constexpr std::size_t kShareSecretBytes = 32;

unsigned char fold(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
}

int rowCount(const JsonMap* map) {
    return std::min<int>(std::max<int>(map->count, 0), kJsonMapRows);
}

void sortRows(JsonMap* map) {
    std::sort(map->entries, map->entries + rowCount(map),
              [](const JsonMapEntry& a, const JsonMapEntry& b) {
                  return compareJsonKeys(a.key, b.key) < 0;
              });
}

char* copyToken(const char* text, const jsmntok_t& token) {
    const std::size_t length = static_cast<std::size_t>(token.end - token.start);
    char* copy = static_cast<char*>(allocZeroed(length + 1));
    if (copy) std::memcpy(copy, text + token.start, length);
    return copy;
}

bool isTrue(const char* text) {
    return text && strcasecmp(text, "true") == 0;
}

// A companion is read raw: it is not itself decoded.
bool companionIsTrue(JsonMap* map, const char* key, const char* suffix) {
    std::string name = std::string(key) + suffix;
    char* raw = BinarySearchVelantoJsonMap(map, name.c_str(), 0, map->count - 1);
    bool result = isTrue(raw);
    freeZeroed(raw);
    return result;
}

void display(JsonMap* map);

char* decryptParameter(JsonMap* map, const char* raw, bool mayDisplay) {
    // While the map is being displayed, a hide companion that is itself encrypted must not
    // display the map again: that would recurse without end.
    if (mayDisplay) display(map);
    logNormal("find key: ", kShareSecret);
    char* secret = BinarySearchVelantoJsonMap(map, kShareSecret, 0, map->count - 1);
    if (!secret || std::strlen(secret) < kShareSecretBytes) {
        freeZeroed(secret);
        return nullptr;
    }
    std::size_t length = 0;
    unsigned char* cipher = hexToBytes(raw, &length);
    unsigned char vector[16];
    parameterVector(vector);
    char* plain =
        cipher ? aesCbcDecrypt(cipher, length, reinterpret_cast<unsigned char*>(secret), vector)
               : nullptr;
    std::free(cipher);
    freeZeroed(secret);
    return plain;
}

std::string stars(const char* value) {
    return std::string(std::strlen(value), '*');
}

} // namespace

int compareJsonKeys(const char* inputA, const char* inputB) {
    if (!inputA || !inputB) {
        if (!inputA) REPORT_NULL("inputA");
        if (!inputB) REPORT_NULL("inputB");
        return inputA == inputB ? 0 : (inputA ? 1 : -1);
    }
    const auto* a = reinterpret_cast<const unsigned char*>(inputA);
    const auto* b = reinterpret_cast<const unsigned char*>(inputB);
    for (;; ++a, ++b) {
        unsigned char x = fold(*a), y = fold(*b);
        if (x != y) return x < y ? -1 : 1;
        if (!x) return 0;
    }
}

JsonMap* newJsonMap() {
    auto* map = static_cast<JsonMap*>(allocZeroed(sizeof(JsonMap)));
    if (!map) REPORT_ALLOC_FAIL();
    return map;
}

JsonMap* parseJsonMap(const char* inputJsonStr) {
    if (!inputJsonStr) {
        REPORT_NULL("inputJsonStr");
        return nullptr;
    }
    jsmntok_t tokens[kJsonMapTokens];
    jsmn_parser parser;
    jsmn_init(&parser);
    const int n =
        jsmn_parse(&parser, inputJsonStr, std::strlen(inputJsonStr), tokens, kJsonMapTokens);
    if (n < 2) {
        logError("jsmn parse error", nullptr);
        logError("Error json: ", inputJsonStr);
        return nullptr;
    }
    JsonMap* map = newJsonMap();
    if (!map) return nullptr;

    // Pairs are read from the last token backwards; the first token is the enclosing object.
    for (int k = n - 2; k >= 1 && map->count < kJsonMapRows; k -= 2) {
        if (tokens[k].end <= tokens[k].start) {
            REPORT_ALLOC_FAIL(); // an empty key ends the reading
            break;
        }
        char* key = copyToken(inputJsonStr, tokens[k]);
        char* rawValue = copyToken(inputJsonStr, tokens[k + 1]);
        char* value = rawValue ? unescapeControlChars(rawValue) : nullptr;
        freeZeroed(rawValue);
        if (!key || !value) {
            REPORT_ALLOC_FAIL();
            std::free(key);
            freeZeroed(value);
            break;
        }
        map->entries[map->count].key = key;
        map->entries[map->count].value = value;
        ++map->count;
    }
    sortRows(map);
    map->rawText = dupString(inputJsonStr);
    if (!map->rawText) REPORT_ALLOC_FAIL();
    return map;
}

char* BinarySearchVelantoJsonMap(JsonMap* inputVelantoJson, const char* Key, int low, int high) {
    if (!inputVelantoJson) {
        REPORT_NULL("inputVelantoJson");
        return nullptr;
    }
    if (!Key) {
        REPORT_NULL("Key");
        return nullptr;
    }
    const int count = rowCount(inputVelantoJson);
    low = std::max(low, 0);
    high = std::min(high, count - 1);
    for (;;) {
        if (count == 0 || low > high) break;
        const int mid = low + (high - low) / 2;
        const JsonMapEntry& row = inputVelantoJson->entries[mid];
        const int order = compareJsonKeys(row.key, Key);
        if (order == 0) {
            if (row.value) return dupString(row.value);
            if (!row.binary) return nullptr;
            // Bytes are handed out with a terminator after them, so a caller reading them
            // as text stops inside the block.
            auto* copy = static_cast<unsigned char*>(allocZeroed(row.binaryLength + 1u));
            if (!copy) {
                REPORT_ALLOC_FAIL();
                return nullptr;
            }
            std::memcpy(copy, row.binary, row.binaryLength);
            return reinterpret_cast<char*>(copy);
        }
        if (low >= high) break;
        if (order < 0) {
            if (mid + 1 >= count) break;
            low = mid + 1;
        } else {
            if (mid - 1 < 0) break;
            high = mid - 1;
        }
    }
    if (keyCheckArmed.load() && !std::strstr(Key, "Velanto") && !std::strstr(Key, "topui")) {
        logWarning("Json map key not found: ", Key);
        lastErrorCode.store(kResultKeyNotFound);
    }
    return nullptr;
}

int setJsonMapValue(JsonMap* inputVelantoJson, const char* inputKey, const char* inputValue) {
    if (!inputVelantoJson) {
        REPORT_NULL("inputVelantoJson");
        return kResultGeneralFailure;
    }
    if (!inputKey) {
        REPORT_NULL("inputKey");
        return kResultGeneralFailure;
    }
    const int count = rowCount(inputVelantoJson);
    for (int i = 0; i < count; ++i) {
        JsonMapEntry& row = inputVelantoJson->entries[i];
        if (compareJsonKeys(row.key, inputKey) != 0) continue;
        char* value = inputValue ? dupString(inputValue) : nullptr;
        if (inputValue && !value) {
            REPORT_ALLOC_FAIL();
            return kResultGeneralFailure;
        }
        freeZeroed(row.value);
        row.value = value;
        return 0;
    }
    if (count >= kJsonMapRows) {
        logWarning("Json map is full, key refused: ", inputKey);
        return kResultGeneralFailure;
    }
    char* key = dupString(inputKey);
    char* value = inputValue ? dupString(inputValue) : nullptr;
    if (!key || (inputValue && !value)) {
        REPORT_ALLOC_FAIL();
        std::free(key);
        freeZeroed(value);
        return kResultGeneralFailure;
    }
    inputVelantoJson->entries[count].key = key;
    inputVelantoJson->entries[count].value = value;
    inputVelantoJson->count = count + 1;
    sortRows(inputVelantoJson);
    return 0;
}

void setJsonMapResult(JsonMap* inputVelantoJson, int result) {
    char text[16];
    std::snprintf(text, sizeof(text), "%d", result);
    setJsonMapValue(inputVelantoJson, "result", text);
}

namespace {

char* decodeValue(JsonMap* inputVelantoJson, const char* inputKey, const char* inputValue,
                  bool mayDisplay) {
    if (!inputValue) {
        REPORT_NULL("inputValue");
        return nullptr;
    }
    if (!inputVelantoJson || !inputKey) {
        if (!inputVelantoJson) REPORT_NULL("inputVelantoJson");
        if (!inputKey) REPORT_NULL("inputKey");
        return dupString(inputValue);
    }
    char* decoded = nullptr;
    bool flagged = true;
    if (companionIsTrue(inputVelantoJson, inputKey, "_VelantoEncryptFlag")) {
        decoded = decryptParameter(inputVelantoJson, inputValue, mayDisplay);
    } else if (companionIsTrue(inputVelantoJson, inputKey, "_VelantoFlag")) {
        decoded = replaceString(inputValue, "*", "\\");
    } else if (companionIsTrue(inputVelantoJson, inputKey, "_VelantoSlashFlag")) {
        decoded = replaceString(inputValue, "==VelantoSlash==", "\\");
    } else if (companionIsTrue(inputVelantoJson, inputKey, "_VelantoBase64Flag")) {
        decoded = reinterpret_cast<char*>(decodeEscapedBase64(inputValue, nullptr));
    } else {
        flagged = false;
    }
    if (decoded) return decoded;
    if (flagged) REPORT_ALLOC_FAIL(); // the transformation failed: the raw value stands
    return dupString(inputValue);
}

char* getString(JsonMap* inputVelantoJson, const char* inputKey, bool mayDisplay) {
    if (!inputVelantoJson) {
        REPORT_NULL("inputVelantoJson");
        return nullptr;
    }
    if (!inputKey) {
        REPORT_NULL("inputKey");
        return nullptr;
    }
    char* raw =
        BinarySearchVelantoJsonMap(inputVelantoJson, inputKey, 0, inputVelantoJson->count - 1);
    if (!raw) return nullptr;
    char* decoded = decodeValue(inputVelantoJson, inputKey, raw, mayDisplay);
    freeZeroed(raw);
    return decoded;
}

bool getBool(JsonMap* inputVelantoJson, const char* inputKey, bool mayDisplay) {
    char* text = getString(inputVelantoJson, inputKey, mayDisplay);
    bool result = isTrue(text);
    freeZeroed(text);
    return result;
}

void display(JsonMap* inputVelantoJson) {
    if (!isLogEnabled()) return;
    if (!inputVelantoJson) {
        REPORT_NULL("inputVelantoJson");
        return;
    }
    logNormal("= DISPLAY PARAMETER", " ===== start =====");
    const int count = rowCount(inputVelantoJson);
    for (int i = 0; i < count; ++i) {
        const JsonMapEntry& row = inputVelantoJson->entries[i];
        const std::string label = std::string(row.key ? row.key : "") + ": ";
        std::string lower = label;
        for (char& c : lower)
            c = static_cast<char>(fold(static_cast<unsigned char>(c)));
        std::string shown;
        if (!row.value) {
            shown = row.binary ? "[binary_value]" : "[empty]";
        } else if (lower.find("velanto") != std::string::npos) {
            shown = row.value;
        } else if (lower.find("pin") != std::string::npos ||
                   lower.find("pw") != std::string::npos ||
                   lower.find("pass") != std::string::npos) {
            shown = stars(row.value);
        } else if (getBool(inputVelantoJson, (std::string(row.key) + "_VelantoHide").c_str(),
                           false)) {
            shown = stars(row.value);
        } else {
            shown = row.value;
        }
        logNormal(label.c_str(), shown.c_str());
        secureZero(&shown[0], shown.size());
    }
    logNormal("= DISPLAY PARAMETER", " ===== end =====");
}

} // namespace

char* decodeJsonMapValue(JsonMap* inputVelantoJson, const char* inputKey, const char* inputValue) {
    return decodeValue(inputVelantoJson, inputKey, inputValue, true);
}

char* getJsonMapString(JsonMap* inputVelantoJson, const char* inputKey) {
    return getString(inputVelantoJson, inputKey, true);
}

bool getJsonMapBool(JsonMap* inputVelantoJson, const char* inputKey) {
    return getBool(inputVelantoJson, inputKey, true);
}

int getJsonMapInt(JsonMap* inputVelantoJson, const char* inputKey) {
    char* text = getJsonMapString(inputVelantoJson, inputKey);
    if (!text) return 0;
    int result = 0;
    if (isTrue(text)) {
        result = 1;
    } else if (strcasecmp(text, "false") != 0) {
        errno = 0;
        long value = std::strtol(text, nullptr, 10);
        result = static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
    }
    freeZeroed(text);
    return result;
}

char* jsonMapToText(JsonMap* inputVelantoJson) {
    if (!inputVelantoJson) {
        REPORT_NULL("inputVelantoJson");
        return nullptr;
    }
    std::string text;
    const int count = rowCount(inputVelantoJson);
    for (int i = 0; i < count; ++i) {
        const JsonMapEntry& row = inputVelantoJson->entries[i];
        if (!row.value) continue;
        char* encoded = base64Encode(row.value);
        if (!encoded) {
            REPORT_ALLOC_FAIL();
            break;
        }
        text += text.empty() ? "{" : ", ";
        text += "\"";
        text += row.key;
        text += "\": \"";
        text += encoded;
        text += "\"";
        freeZeroed(encoded);
    }
    text += text.empty() ? "{}" : "}";
    char* result = dupString(text.c_str());
    secureZero(&text[0], text.size());
    if (!result) REPORT_ALLOC_FAIL();
    return result;
}

void displayJsonMap(JsonMap* inputVelantoJson) {
    display(inputVelantoJson);
}

void freeJsonMap(JsonMap* inputVelantoJson) {
    if (!inputVelantoJson) {
        REPORT_NULL("inputVelantoJson");
        return;
    }
    const int count = rowCount(inputVelantoJson);
    for (int i = 0; i < count; ++i) {
        JsonMapEntry& row = inputVelantoJson->entries[i];
        freeZeroed(row.key);
        freeZeroed(row.value);
        if (row.binary) {
            secureZero(row.binary, row.binaryLength);
            std::free(row.binary);
        }
    }
    freeZeroed(inputVelantoJson->rawText);
    std::free(inputVelantoJson);
}

void parameterVector(unsigned char out[16]) {
    // Built at run time from four words, so the vector is not one literal in the binary.
    const std::uint32_t words[4] = {0x4B657374u, 0x6F766151u, 0x76434150u, 0x49495631u};
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b)
            out[4 * i + b] = static_cast<unsigned char>(words[i] >> (24 - 8 * b));
}

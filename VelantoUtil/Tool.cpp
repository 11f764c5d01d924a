#include "VelantoUtil/Tool.h"

#include "VelantoUtil/Log.h"

#define JSMN_HEADER
#include <jsmn.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <atomic>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

namespace {

// The process-wide outcome of the last conversion (last writer wins). The family's own code
// reads outcomes from parseNumber, which hands each caller its own.
std::atomic<int> conversionResult{0};

std::mutex copyPathMutex;
std::wstring copyPath;

char* allocText(std::size_t length) {
    char* text = static_cast<char*>(allocZeroed(length + 1));
    if (!text) REPORT_ALLOC_FAIL();
    return text;
}

char* heapCopy(const std::string& text) {
    char* copy = allocText(text.size());
    if (copy) std::memcpy(copy, text.data(), text.size());
    return copy;
}

// UTF-8 from 16-bit (with surrogate pairs) or 32-bit code units.
template <typename Unit>
std::string unitsToUtf8(const Unit* input, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        char32_t c = static_cast<char32_t>(input[i]);
        if (sizeof(Unit) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < length &&
            static_cast<char32_t>(input[i + 1]) >= 0xDC00 &&
            static_cast<char32_t>(input[i + 1]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(input[i + 1]) - 0xDC00);
            ++i;
        }
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// 16-bit (with surrogate pairs) or 32-bit code units from UTF-8; invalid UTF-8 becomes
// U+FFFD, one per bad byte.
template <typename Unit>
std::basic_string<Unit> utf8ToUnits(const char* input) {
    std::basic_string<Unit> out;
    const auto* s = reinterpret_cast<const unsigned char*>(input);
    while (*s) {
        char32_t c = *s;
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        bool valid = extra >= 0;
        if (extra > 0) {
            c &= 0x3F >> extra;
            for (int i = 1; i <= extra && valid; ++i) {
                if ((s[i] & 0xC0) != 0x80)
                    valid = false;
                else
                    c = (c << 6) | (s[i] & 0x3F);
            }
            static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
            if (valid && (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
                valid = false;
        }
        if (!valid) {
            out += static_cast<Unit>(0xFFFD);
            ++s;
            continue;
        }
        s += extra + 1;
        if (sizeof(Unit) == 2 && c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<Unit>(0xD800 + (c >> 10));
            out += static_cast<Unit>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<Unit>(c);
        }
    }
    return out;
}

std::string toUtf8(const wchar_t* input) {
    return unitsToUtf8(input, std::wcslen(input));
}
std::wstring fromUtf8(const char* input) {
    return utf8ToUnits<wchar_t>(input);
}

wchar_t* heapWide(const std::wstring& text) {
    auto* copy = static_cast<wchar_t*>(allocZeroed((text.size() + 1) * sizeof(wchar_t)));
    if (!copy) {
        REPORT_ALLOC_FAIL();
        return nullptr;
    }
    std::wmemcpy(copy, text.data(), text.size());
    return copy;
}

// The standard string-to-int conversion: leading blanks and a sign allowed, stops at the
// first character that is not a digit, fails without digits or outside the int range.
int convert(const char* input, int base, int& outcome) {
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(input, &end, base);
    if (end == input || errno == ERANGE || value > INT_MAX || value < INT_MIN) {
        outcome = kResultNotNumber;
        return 0;
    }
    outcome = 0;
    return static_cast<int>(value);
}

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

bool sameProcessName(const std::string& actual, const std::string& wanted) {
    return !actual.empty() && strcasecmp(actual.c_str(), wanted.c_str()) == 0;
}

void logTextCompare(const char* partA, const char* partB) {
    logWarning("Version check: ", "String compare mode");
    logWarning(" - Version A: ", partA);
    logWarning(" - Version B: ", partB);
}

int countParts(char** parts) {
    int count = 0;
    while (parts[count])
        ++count;
    return count;
}

// Spaces removed, "." read as ",", split at ",". Null when the split fails.
char** versionParts(const char* version) {
    char buffer[512] = {};
    std::snprintf(buffer, sizeof(buffer), "%s", version);
    std::string text;
    for (const char* p = buffer; *p; ++p) {
        if (*p == ' ') continue;
        text += *p == '.' ? ',' : *p;
    }
    return splitString(text.c_str(), ",");
}

} // namespace

// ---- Heap texts ----------------------------------------------------------------------

void* allocZeroed(std::size_t size) {
    if (size == 0 || size > 2147483647u) return nullptr;
    return std::calloc(1, size);
}

char* dupString(const char* text) {
    if (!text) return nullptr;
    return heapCopy(text);
}

wchar_t* dupWideString(const wchar_t* input) {
    if (!input) {
        REPORT_NULL("input");
        return nullptr;
    }
    return heapWide(input);
}

char* replaceString(const char* source, const char* find, const char* replacement) {
    if (!source) return nullptr;
    if (!find) find = "";
    if (!replacement) replacement = "";
    const std::size_t findLength = std::strlen(find);
    const std::size_t replacementLength = std::strlen(replacement);
    if (findLength == 0) return dupString(source);

    std::size_t count = 0;
    for (const char* p = std::strstr(source, find); p; p = std::strstr(p + findLength, find))
        ++count;
    const std::size_t length = std::strlen(source) + count * replacementLength - count * findLength;
    char* result = allocText(length);
    if (!result) return nullptr;
    char* out = result;
    const char* rest = source;
    for (const char* p = std::strstr(rest, find); p; p = std::strstr(rest, find)) {
        std::memcpy(out, rest, static_cast<std::size_t>(p - rest));
        out += p - rest;
        std::memcpy(out, replacement, replacementLength);
        out += replacementLength;
        rest = p + findLength;
    }
    std::strcpy(out, rest);
    return result;
}

wchar_t* replaceWideString(const wchar_t* source, const wchar_t* find, const wchar_t* replacement) {
    if (!source) return nullptr;
    std::string narrowSource = toUtf8(source);
    std::string narrowFind = find ? toUtf8(find) : std::string();
    std::string narrowReplacement = replacement ? toUtf8(replacement) : std::string();
    char* replaced =
        replaceString(narrowSource.c_str(), narrowFind.c_str(), narrowReplacement.c_str());
    if (!replaced) return nullptr;
    wchar_t* result = heapWide(fromUtf8(replaced));
    std::free(replaced);
    return result;
}

char* unescapeControlChars(const char* inputData) {
    if (!inputData) {
        REPORT_NULL("inputData");
        return nullptr;
    }
    static const char* const kPairs[][2] = {
        {"\\r", "\r"},       {"\\n", "\n"},       {"\\t", "\t"},  {"\\u000f", "\x0f"},
        {"\\u000e", "\x0e"}, {"\\u001b", "\x1b"}, {"\\\"", "\""},
    };
    char* text = dupString(inputData);
    for (const auto& pair : kPairs) {
        if (!text) return nullptr;
        char* next = replaceString(text, pair[0], pair[1]);
        std::free(text);
        text = next;
    }
    return text;
}

char* padLeft(const char* MainText, std::size_t width, char fill) {
    if (!MainText) {
        REPORT_NULL("MainText");
        return nullptr;
    }
    const std::size_t length = std::strlen(MainText);
    if (length >= width) return dupString(MainText); // never cut the text
    char* result = allocText(width);
    if (!result) return nullptr;
    std::memset(result, fill, width - length);
    std::memcpy(result + width - length, MainText, length);
    return result;
}

char* toLowerCopy(const char* input) {
    if (!input) {
        REPORT_NULL("input");
        return nullptr;
    }
    char* copy = dupString(input);
    if (copy)
        for (char* p = copy; *p; ++p)
            if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    return copy;
}

bool startsWith(const char* prefix, const char* inputMainString) {
    if (!prefix) return true;
    if (!inputMainString) {
        REPORT_NULL("inputMainString");
        return false;
    }
    return std::strncmp(inputMainString, prefix, std::strlen(prefix)) == 0;
}

char* subString(const char* text, std::size_t from, std::size_t to) {
    if (!text || from >= to) return nullptr;
    char* result = allocText(to - from);
    if (result) std::memcpy(result, text + from, to - from);
    return result;
}

char** splitString(const char* text, const char* delimiter) {
    std::vector<std::string> pieces;
    if (text && delimiter && *text && *delimiter) {
        const std::size_t delimiterLength = std::strlen(delimiter);
        const char* rest = text;
        for (const char* p = std::strstr(rest, delimiter); p; p = std::strstr(rest, delimiter)) {
            pieces.emplace_back(rest, static_cast<std::size_t>(p - rest));
            rest = p + delimiterLength;
        }
        pieces.emplace_back(rest);
    }
    auto** array = static_cast<char**>(allocZeroed((pieces.size() + 1) * sizeof(char*)));
    if (!array) {
        REPORT_ALLOC_FAIL();
        return nullptr;
    }
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        array[i] = heapCopy(pieces[i]);
        if (!array[i]) {
            freeStringArray(array);
            return nullptr;
        }
    }
    return array;
}

void freeStringArray(char** array) {
    if (!array) return;
    for (char** p = array; *p; ++p)
        std::free(*p);
    std::free(array);
}

void secureZero(void* buffer, std::size_t length) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
    while (length--)
        *p++ = 0;
}

void freeZeroed(char* text) {
    if (!text) return;
    secureZero(text, std::strlen(text));
    std::free(text);
}

char* getJsonValue(const char* inputJSONObj, const char* key) {
    if (!inputJSONObj) {
        REPORT_NULL("inputJSONObj");
        return nullptr;
    }
    if (!key) return nullptr;
    char* wanted = toLowerCopy(key);
    if (!wanted) return nullptr;

    // A table per call: callers on several threads never share it.
    jsmntok_t tokens[64];
    jsmn_parser parser;
    jsmn_init(&parser);
    int count = jsmn_parse(&parser, inputJSONObj, std::strlen(inputJSONObj), tokens, 64);
    if (count < 0) count = 0;

    char* result = nullptr;
    for (int i = 1; i + 1 < count && !result; i += 2) {
        std::string name(inputJSONObj + tokens[i].start,
                         static_cast<std::size_t>(tokens[i].end - tokens[i].start));
        char* lowered = toLowerCopy(name.c_str());
        bool match = lowered && std::strcmp(lowered, wanted) == 0;
        std::free(lowered);
        if (!match) continue;
        const jsmntok_t& value = tokens[i + 1];
        std::string text(inputJSONObj + value.start,
                         static_cast<std::size_t>(value.end - value.start));
        result = replaceString(text.c_str(), "\\\"", "\"");
        if (!result) break;
    }
    std::free(wanted);
    return result;
}

bool isDisplayNameFile(const char* filename) {
    if (!filename) {
        REPORT_NULL("filename");
        return false;
    }
    static const char kSuffix[] = "DisplayName.txt";
    const std::size_t length = std::strlen(filename), suffix = sizeof(kSuffix) - 1;
    return length >= suffix && std::strcmp(filename + length - suffix, kSuffix) == 0;
}

char* wideToNarrow(const wchar_t* input) {
    return input ? heapCopy(toUtf8(input)) : nullptr;
}

wchar_t* narrowToWide(const char* input) {
    return input ? heapWide(fromUtf8(input)) : nullptr;
}

std::string utf16ToUtf8(const char16_t* text, std::size_t length) {
    return text ? unitsToUtf8(text, length) : std::string();
}

std::u16string utf8ToUtf16(const char* text) {
    return text ? utf8ToUnits<char16_t>(text) : std::u16string();
}

// ---- Numbers and encodings -----------------------------------------------------------

int parseNumber(const char* input, int base, bool digitsOnly, int* outcome) {
    int result = 0;
    int value = 0;
    if (!input) {
        result = kResultNullNumber;
    } else {
        bool digits = true;
        if (digitsOnly)
            for (const char* p = input[0] == '-' ? input + 1 : input; *p && digits; ++p)
                digits = *p >= '0' && *p <= '9';
        if (digits)
            value = convert(input, base, result);
        else
            result = kResultNotNumber;
    }
    if (outcome) *outcome = result;
    return value;
}

int parseDecimal(const char* input, bool digitsOnly) {
    int outcome = 0;
    const int value = parseNumber(input, 10, digitsOnly, &outcome);
    conversionResult.store(outcome);
    return value;
}

int parseHex(const char* input) {
    int outcome = 0;
    const int value = parseNumber(input, 16, false, &outcome);
    conversionResult.store(outcome);
    return value;
}

bool lastConversionFailed() {
    const int outcome = conversionResult.load();
    return outcome == kResultNotNumber || outcome == kResultNullNumber;
}

int lastConversionResult() {
    return conversionResult;
}

char* base64Encode(const unsigned char* bytes, std::size_t length) {
    if (!bytes) {
        REPORT_NULL("input");
        return nullptr;
    }
    char* out = allocText((length + 2) / 3 * 4 + 1);
    if (!out) return nullptr;
    char* p = out;
    for (std::size_t i = 0; i < length; i += 3) {
        unsigned value = static_cast<unsigned>(bytes[i]) << 16;
        if (i + 1 < length) value |= static_cast<unsigned>(bytes[i + 1]) << 8;
        if (i + 2 < length) value |= bytes[i + 2];
        *p++ = kBase64Alphabet[(value >> 18) & 0x3F];
        *p++ = kBase64Alphabet[(value >> 12) & 0x3F];
        *p++ = i + 1 < length ? kBase64Alphabet[(value >> 6) & 0x3F] : '=';
        *p++ = i + 2 < length ? kBase64Alphabet[value & 0x3F] : '=';
    }
    return out;
}

char* base64Encode(const char* input) {
    if (!input) {
        REPORT_NULL("input");
        return nullptr;
    }
    return base64Encode(reinterpret_cast<const unsigned char*>(input), std::strlen(input));
}

unsigned char* decodeEscapedBase64(const char* input, std::size_t* length) {
    if (length) *length = 0;
    if (!input) {
        REPORT_NULL("input");
        return nullptr;
    }
    char* step1 = replaceString(input, "%2B", "+");
    char* step2 = replaceString(step1, "%2F", "/");
    char* text = replaceString(step2, "%3D", "=");
    std::free(step1);
    std::free(step2);
    if (!text) return nullptr;

    std::size_t valid = 0;
    while (base64Value(static_cast<unsigned char>(text[valid])) >= 0)
        ++valid;
    auto* out = static_cast<unsigned char*>(allocZeroed(valid / 4 * 3 + 3));
    if (!out) {
        REPORT_ALLOC_FAIL();
        std::free(text);
        return nullptr;
    }
    std::size_t n = 0;
    unsigned accumulator = 0;
    int bits = 0;
    for (std::size_t i = 0; i < valid; ++i) {
        accumulator = (accumulator << 6) |
                      static_cast<unsigned>(base64Value(static_cast<unsigned char>(text[i])));
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out[n++] = static_cast<unsigned char>((accumulator >> bits) & 0xFF);
        }
    }
    std::free(text);
    if (length) *length = n;
    return out;
}

unsigned char* hexToBytes(const char* input, std::size_t* length) {
    if (length) *length = 0;
    if (!input) {
        REPORT_NULL("input");
        return nullptr;
    }
    const std::size_t count = std::strlen(input) / 2;
    auto* out = static_cast<unsigned char*>(allocZeroed(count + 1));
    if (!out) {
        REPORT_ALLOC_FAIL();
        return nullptr;
    }
    for (std::size_t i = 0; i < count; ++i)
        out[i] =
            static_cast<unsigned char>(hexValue(input[2 * i]) << 4 | hexValue(input[2 * i + 1]));
    if (length) *length = count;
    return out;
}

int compareVersion(const char* inputVersionA, const char* inputVersionB) {
    if (!inputVersionA) {
        REPORT_NULL("inputVersionA");
        return kResultGeneralFailure;
    }
    if (!inputVersionB) {
        REPORT_NULL("inputVersionB");
        return kResultGeneralFailure;
    }
    char** partsA = versionParts(inputVersionA);
    char** partsB = versionParts(inputVersionB);
    int result = 0;
    if (!partsA || !partsB) {
        result = kResultGeneralFailure;
    } else if (countParts(partsA) != countParts(partsB)) {
        result = 3;
    } else {
        const int count = countParts(partsA);
        for (int i = 0; i < count && result == 0; ++i)
            if (!*partsA[i] || !*partsB[i]) result = kResultEmptyVersionPart;
        for (int i = 0; i < count && result == 0; ++i) {
            int outcome = 0;
            int a = parseNumber(partsA[i], 10, true, &outcome);
            if (outcome != 0) {
                logTextCompare(partsA[i], partsB[i]);
                if (std::strcmp(partsA[i], partsB[i]) != 0) result = 2;
                continue;
            }
            int b = parseNumber(partsB[i], 10, true, &outcome);
            if (outcome != 0) {
                if (std::strcmp(partsA[i], partsB[i]) != 0) {
                    logTextCompare(partsA[i], partsB[i]);
                    result = 2;
                }
                continue;
            }
            if (a != b) result = a < b ? -1 : 1;
        }
    }
    freeStringArray(partsA);
    freeStringArray(partsB);
    return result;
}

// ---- Processes and commands ----------------------------------------------------------

int hideWaitCommand(const wchar_t* command, bool viaShell) {
    if (!command) return 1;
    int exitCode = 0;
    if (!platform::startProcess(toUtf8(command), viaShell, true, &exitCode)) return 0;
    return exitCode;
}

void hideNOWaitCommand(const wchar_t* inputCommand) {
    if (!inputCommand) {
        REPORT_NULL("inputCommand");
        return;
    }
    logNormalWide("hideNOWaitCommand: ", inputCommand);
    platform::startProcess(toUtf8(inputCommand), false, false, nullptr);
}

bool findProcess(const wchar_t* processName) {
    if (!processName) {
        REPORT_NULL("processName");
        return false;
    }
    std::vector<platform::ProcessEntry> processes;
    if (!platform::listProcesses(processes)) {
        logError("EnumProcesses fail", nullptr);
        return false;
    }
    const std::string wanted = platform::nativeExecutableName(toUtf8(processName));
    for (const auto& process : processes)
        if (sameProcessName(process.moduleName, wanted)) return true;
    for (const auto& process : processes)
        if (sameProcessName(process.imageName, wanted)) return true;
    return false;
}

int forceKillProcesses(const wchar_t* processName) {
    if (!processName) {
        REPORT_NULL("processName");
        return 0;
    }
    std::vector<platform::ProcessEntry> processes;
    if (!platform::listProcesses(processes)) {
        logError("EnumProcesses fail", nullptr);
        return 0;
    }
    const std::string wanted = platform::nativeExecutableName(toUtf8(processName));
    const int self = platform::currentProcessId();
    int killed = 0;
    for (const auto& process : processes) {
        if (!process.sameUser || process.pid == self) continue;
        if (!sameProcessName(process.moduleName, wanted) &&
            !sameProcessName(process.imageName, wanted))
            continue;
        if (platform::forceKill(process.pid)) ++killed;
    }
    return killed;
}

void selfDelete() {
    std::string self;
    if (platform::programPath(self)) platform::scheduleFileDeletion(self, 2000);
}

// ---- Folders and files ---------------------------------------------------------------

wchar_t* getUserTempPath() {
    std::string dir;
    if (!platform::userTempDir(dir)) {
        std::printf("[ERROR] %s extract user temp folder fail at line %d in %s\n",
                    "getUserTempPath", __LINE__, velantoSourceName(__FILE__));
        return heapWide(std::wstring());
    }
    return heapWide(fromUtf8(dir.c_str()));
}

wchar_t* getCopyPath(const char* subFolder) {
    std::string path = platform::commonAppDataDir();
    if (path.empty()) {
        logError("Get copy path: ", "Fail");
        return heapWide(std::wstring());
    }
    if (!platform::isPathSeparator(path.back())) path += platform::pathSeparator();
    if (subFolder) path += subFolder;
    std::wstring wide = fromUtf8(path.c_str());
    {
        std::lock_guard<std::mutex> guard(copyPathMutex);
        copyPath = wide;
    }
    return heapWide(wide);
}

wchar_t* getStoredCopyPath() {
    std::lock_guard<std::mutex> guard(copyPathMutex);
    return heapWide(copyPath);
}

wchar_t* getExeDirectory() {
    std::string path;
    if (!platform::programPath(path)) return heapWide(std::wstring());
    std::size_t cut = path.size();
    while (cut > 0 && !platform::isPathSeparator(path[cut - 1]))
        --cut;
    path.resize(cut > 0 ? cut - 1 : 0);
    return heapWide(fromUtf8(path.c_str()));
}

char* getDesktopPath() {
    std::string dir;
    return platform::desktopDir(dir) ? heapCopy(dir) : nullptr;
}

wchar_t* getDesktopPathWide() {
    std::string dir;
    return platform::desktopDir(dir) ? heapWide(fromUtf8(dir.c_str())) : nullptr;
}

bool makeDirectories(const wchar_t* path) {
    if (!path) return true;
    const std::string text = toUtf8(path);
    for (std::size_t i = 1; i < text.size(); ++i)
        if (platform::isPathSeparator(text[i])) platform::makeDirectory(text.substr(0, i));
    return true;
}

bool isFileExist(const char* inputFileName) {
    if (!inputFileName) {
        REPORT_NULL("inputFileName");
        return false;
    }
    switch (platform::fileKind(inputFileName)) {
    case platform::FileKind::NotFound:
    case platform::FileKind::Directory:
        return false;
    case platform::FileKind::File:
    case platform::FileKind::Unknown:
        return true;
    }
    return false;
}

bool isFileExist(const wchar_t* inputFileName) {
    if (!inputFileName) {
        REPORT_NULL("inputFileName");
        return false;
    }
    return isFileExist(toUtf8(inputFileName).c_str());
}

char* readTextFile(const wchar_t* path) {
    if (!path) {
        logWarning("inputPath is null", nullptr);
        return nullptr;
    }
    return readTextFile(toUtf8(path).c_str());
}

char* readTextFile(const char* path) {
    if (!path) {
        logWarning("inputPath is null", nullptr);
        return nullptr;
    }
    std::string content;
    if (!platform::readTextFile(path, content)) {
        logWarning("Read file pointer is null", nullptr);
        return nullptr;
    }
    content.resize(std::strlen(content.c_str()));
    if (content.empty()) return nullptr;
    return heapCopy(content);
}

bool writeTextFile(const wchar_t* path, const char* text) {
    if (!path || !*path || !text) return false;
    return platform::writeTextFile(toUtf8(path), text, false);
}

bool appendCertHeader(const char* text) {
    if (!text) return false;
    return platform::writeTextFile("Cert.h", text, true);
}

// ---- Mutexes, time, random, system ---------------------------------------------------

UserMutex lockUserMutex(const char* inputMutexLock, std::uint32_t timeoutMs) {
    if (!inputMutexLock) {
        REPORT_NULL("inputMutexLock");
        return nullptr;
    }
    std::string user;
    if (!platform::userName(user)) {
        REPORT_ALLOC_FAIL();
        return nullptr;
    }
    return platform::acquireNamedMutex(user + "_" + inputMutexLock, timeoutMs);
}

void unlockUserMutex(UserMutex mutex) {
    platform::releaseNamedMutex(mutex);
}

char* getTimeText() {
    std::tm now{};
    unsigned long millisecond = 0;
    if (!platform::localTimeNow(now, millisecond)) return dupString("Unknow time");
    const int fields[] = {now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec};
    char* padded[5] = {};
    bool ok = true;
    for (int i = 0; i < 5; ++i) {
        char number[16];
        std::snprintf(number, sizeof(number), "%d", fields[i]);
        padded[i] = padLeft(number, 2, '0');
        ok = ok && padded[i];
    }
    char* result = nullptr;
    if (ok) {
        char text[96];
        std::snprintf(text, sizeof(text), "%d-%s-%s %s-%s-%s", now.tm_year + 1900, padded[0],
                      padded[1], padded[2], padded[3], padded[4]);
        result = dupString(text);
    }
    for (char* field : padded)
        std::free(field);
    return result;
}

std::uint64_t timeValueFromTm(const std::tm& local) {
    const long long year = local.tm_year;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const long long yearSeconds = leap ? 31622400LL : 31536000LL;
    const long long value =
        (year - 115) * yearSeconds +
        ((static_cast<long long>(local.tm_mday) * 24 + local.tm_hour) * 60 + local.tm_min) * 60 +
        local.tm_sec;
    return static_cast<std::uint64_t>(value);
}

std::uint64_t getTimeValue() {
    std::tm now{};
    unsigned long millisecond = 0;
    if (!platform::localTimeNow(now, millisecond)) return 0;
    return timeValueFromTm(now);
}

char* getTimeValueText() {
    char* text = allocText(31);
    if (text) std::snprintf(text, 32, "%llx", static_cast<unsigned long long>(getTimeValue()));
    return text;
}

bool genRandom(void* buffer, std::size_t length) {
    if (!buffer) return false;
    if (!platform::randomBytes(buffer, length)) {
        logError("Random generator: ", "Fail");
        return false;
    }
    return true;
}

char* genSessionId() {
    static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    unsigned char bytes[8] = {};
    genRandom(bytes, sizeof(bytes));
    char id[13];
    for (int i = 0; i < 8; ++i)
        id[i] = kAlphabet[bytes[i] % 36];
    std::memcpy(id + 8, "_SID", 5);
    return dupString(id);
}

std::uint32_t osDescriptorFromFacts(const platform::OsVersionFacts& facts) {
    const bool workstation = facts.productType == 1;
    const unsigned amd64 = 9, ia64 = 6;
    std::uint32_t os = 0;
    if (facts.major == 5 && facts.minor == 1) {
        os = kOsWindowsXP;
    } else if (facts.major == 5 && facts.minor == 2) {
        if (workstation && facts.processorArchitecture == amd64)
            os = kOsWindowsXPx64;
        else if (facts.serverR2 == 0)
            os = kOsWindowsServer2003;
        else if (facts.suiteMask & 0x8000)
            os = kOsWindowsHomeServer;
        else
            os = kOsWindowsServer2003R2;
    } else if (facts.major == 6 && facts.minor == 0) {
        os = workstation ? kOsWindowsVista : kOsWindowsServer2008;
    } else if (facts.major == 6 && facts.minor == 1) {
        os = workstation ? kOsWindows7 : kOsWindowsServer2008R2;
    } else if (facts.major == 6 && facts.minor == 2) {
        os = workstation ? kOsWindows8 : kOsWindowsServer2012;
    } else if (facts.major == 6 && facts.minor == 3) {
        os = workstation ? kOsWindows81 : kOsWindowsServer2012R2;
    } else if (facts.major == 10 && facts.minor == 0) {
        os = !workstation          ? kOsWindowsServer2016
             : facts.build < 22000 ? kOsWindows10
                                   : kOsWindows11;
    }
    if (os == 0) return 0;
    const bool wide = facts.processorArchitecture == amd64 || facts.processorArchitecture == ia64;
    return os | (wide ? kOs64Bit : kOs32Bit);
}

std::uint32_t getOsDescriptor() {
    platform::OsVersionFacts facts;
    if (!platform::readOsVersionFacts(facts)) return 0;
    return osDescriptorFromFacts(facts);
}

char* getOsName(std::uint32_t descriptor) {
    static const char* const kNames[] = {
        "WindowsXP",
        "WindowsXPx64",
        "WindowsServer2003",
        "WindowsHomeServer",
        "WindowsServer2003R2",
        "WindowsVista",
        "WindowsServer2008",
        "WindowsServer2008R2",
        "Windows7",
        "WindowsServer2012",
        "Windows8",
        "WindowsServer2012R2",
        "Windows8.1",
        "WindowsServer2016",
        "Windows10",
        "Windows11",
    };
    for (int bit = 0; bit < 16; ++bit)
        if (descriptor & (1u << bit)) return dupString(kNames[bit]);
    return dupString("UnknowOS");
}

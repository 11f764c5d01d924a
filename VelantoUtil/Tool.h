// The common tools every program of the family links. Every text or buffer returned is a
// new zero-filled block from the C heap that the caller releases with free().
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "VelantoUtil/platform/Platform.h"

// Result codes of the tools.
constexpr int kResultGeneralFailure = 61001;
constexpr int kResultNotNumber = 61003;
constexpr int kResultNullNumber = 61004;
constexpr int kResultEmptyVersionPart = 61005;

// ---- Heap texts ----------------------------------------------------------------------

void* allocZeroed(std::size_t size);
char* dupString(const char* text);
wchar_t* dupWideString(const wchar_t* input);
char* replaceString(const char* source, const char* find, const char* replacement);
wchar_t* replaceWideString(const wchar_t* source, const wchar_t* find, const wchar_t* replacement);
char* unescapeControlChars(const char* inputData);
char* padLeft(const char* MainText, std::size_t width, char fill);
char* toLowerCopy(const char* input);
bool startsWith(const char* prefix, const char* inputMainString);
char* subString(const char* text, std::size_t from, std::size_t to);
// A null-terminated array of heap texts; release it with freeStringArray.
char** splitString(const char* text, const char* delimiter);
void freeStringArray(char** array);
// Overwrites a buffer with zeros in a way the compiler cannot drop.
void secureZero(void* buffer, std::size_t length);
// Zeroes a text that carried a key, parameter or answer, then frees it; null is ignored.
void freeZeroed(char* text);
char* getJsonValue(const char* inputJSONObj, const char* key);
bool isDisplayNameFile(const char* filename);

// UTF-8 <-> wide text (UTF-32 here, UTF-16 on Windows). Null gives null.
char* wideToNarrow(const wchar_t* input);
wchar_t* narrowToWide(const char* input);
// UTF-16 <-> UTF-8, for the strings that cross the component binding.
std::string utf16ToUtf8(const char16_t* text, std::size_t length);
std::u16string utf8ToUtf16(const char* text);

// ---- Numbers and encodings -----------------------------------------------------------

// The conversion with its own outcome (0, 61003 or 61004) for the caller alone.
int parseNumber(const char* input, int base, bool digitsOnly, int* outcome);
// The same, recording the outcome in the one process-wide variable (last writer wins).
int parseDecimal(const char* input, bool digitsOnly);
int parseHex(const char* input);
// The outcome of the process's last parseDecimal/parseHex was 61003 or 61004.
bool lastConversionFailed();
int lastConversionResult();
char* base64Encode(const unsigned char* bytes, std::size_t length);
char* base64Encode(const char* input);
// Bytes with a terminator after them; the byte count goes to length when given.
unsigned char* decodeEscapedBase64(const char* input, std::size_t* length);
unsigned char* hexToBytes(const char* input, std::size_t* length);
// -1, 0, 1 by number; 2 different texts; 3 different part counts; 61001 or 61005 on error.
int compareVersion(const char* inputVersionA, const char* inputVersionB);

// ---- Processes and commands ----------------------------------------------------------

int hideWaitCommand(const wchar_t* command, bool viaShell);
void hideNOWaitCommand(const wchar_t* inputCommand);
bool findProcess(const wchar_t* processName);
// Kills every process of this user that carries the name, except the caller; the count.
int forceKillProcesses(const wchar_t* processName);
void selfDelete();

// ---- Folders and files ---------------------------------------------------------------

wchar_t* getUserTempPath();
wchar_t* getCopyPath(const char* subFolder);
// The copy path last stored by getCopyPath (empty before).
wchar_t* getStoredCopyPath();
wchar_t* getExeDirectory();
char* getDesktopPath();
wchar_t* getDesktopPathWide();
bool makeDirectories(const wchar_t* path);
bool isFileExist(const wchar_t* inputFileName);
bool isFileExist(const char* inputFileName);
char* readTextFile(const wchar_t* path);
char* readTextFile(const char* path);
bool writeTextFile(const wchar_t* path, const char* text);
bool appendCertHeader(const char* text);

// ---- Mutexes, time, random, system ---------------------------------------------------

using UserMutex = platform::NamedMutex*;
// The per-user mutex "<user>_<name>", owned by the caller on success; null otherwise.
UserMutex lockUserMutex(const char* inputMutexLock, std::uint32_t timeoutMs);
void unlockUserMutex(UserMutex mutex);

char* getTimeText();
std::uint64_t timeValueFromTm(const std::tm& local);
std::uint64_t getTimeValue();
char* getTimeValueText();
bool genRandom(void* buffer, std::size_t length);
char* genSessionId();

// Operating-system bits of the descriptor.
constexpr std::uint32_t kOsWindowsXP = 0x1;
constexpr std::uint32_t kOsWindowsXPx64 = 0x2;
constexpr std::uint32_t kOsWindowsServer2003 = 0x4;
constexpr std::uint32_t kOsWindowsHomeServer = 0x8;
constexpr std::uint32_t kOsWindowsServer2003R2 = 0x10;
constexpr std::uint32_t kOsWindowsVista = 0x20;
constexpr std::uint32_t kOsWindowsServer2008 = 0x40;
constexpr std::uint32_t kOsWindowsServer2008R2 = 0x80;
constexpr std::uint32_t kOsWindows7 = 0x100;
constexpr std::uint32_t kOsWindowsServer2012 = 0x200;
constexpr std::uint32_t kOsWindows8 = 0x400;
constexpr std::uint32_t kOsWindowsServer2012R2 = 0x800;
constexpr std::uint32_t kOsWindows81 = 0x1000;
constexpr std::uint32_t kOsWindowsServer2016 = 0x2000;
constexpr std::uint32_t kOsWindows10 = 0x4000;
constexpr std::uint32_t kOsWindows11 = 0x8000;
constexpr std::uint32_t kOs32Bit = 0x100000;
constexpr std::uint32_t kOs64Bit = 0x200000;

std::uint32_t osDescriptorFromFacts(const platform::OsVersionFacts& facts);
std::uint32_t getOsDescriptor();
char* getOsName(std::uint32_t descriptor);

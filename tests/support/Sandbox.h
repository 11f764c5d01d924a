// Every test process runs in a sandbox of its own: the machine root, home, temporary and
// runtime folders all point into a fresh folder that is removed afterwards.
#pragma once

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

std::string sandboxDir();
std::string rootDir();    // VELANTO_ROOT
std::string homeDir();    // HOME
std::string tmpDir();     // TMPDIR
std::string runtimeDir(); // XDG_RUNTIME_DIR
std::string binDir();     // folder of the running test program
std::string helperPath(); // the test helper program

void writeFile(const std::string& path, const std::string& content);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
void makeDirs(const std::string& path);
std::vector<std::string> listDir(const std::string& path); // sorted file names
// Polls every 10 ms up to timeoutMs; true once the condition holds.
bool waitFor(const std::function<bool()>& condition, int timeoutMs);
std::vector<std::string> lines(const std::string& text);
// How often part occurs in text.
int countOf(const std::string& text, const std::string& part);

std::wstring wide(const std::string& text);

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Heap = std::unique_ptr<T, FreeDeleter>;
inline Heap<char> heap(char* p) {
    return Heap<char>(p);
}
inline Heap<wchar_t> heap(wchar_t* p) {
    return Heap<wchar_t>(p);
}
inline Heap<unsigned char> heap(unsigned char* p) {
    return Heap<unsigned char>(p);
}

} // namespace testsupport

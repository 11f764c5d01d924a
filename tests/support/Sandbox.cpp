#include "Sandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

namespace {
std::string gSandbox;

std::string child(const char* name) {
    return gSandbox + "/" + name;
}
} // namespace

std::string sandboxDir() {
    return gSandbox;
}
std::string rootDir() {
    return child("root");
}
std::string homeDir() {
    return child("home");
}
std::string tmpDir() {
    return child("tmp");
}
std::string runtimeDir() {
    return child("run");
}

std::string binDir() {
    return fs::read_symlink("/proc/self/exe").parent_path().string();
}
std::string helperPath() {
    return binDir() + "/velanto_test_helper";
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

void makeDirs(const std::string& path) {
    fs::create_directories(path);
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(path, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

int countOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

} // namespace testsupport

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char pattern[] = "/tmp/velanto-test-XXXXXX";
    if (!mkdtemp(pattern)) return 2;
    testsupport::gSandbox = pattern;
    for (const char* name : {"root", "home", "tmp", "run"})
        fs::create_directory(testsupport::child(name));
    fs::permissions(testsupport::runtimeDir(), fs::perms::owner_all);
    setenv("VELANTO_ROOT", testsupport::rootDir().c_str(), 1);
    setenv("HOME", testsupport::homeDir().c_str(), 1);
    setenv("TMPDIR", testsupport::tmpDir().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", testsupport::runtimeDir().c_str(), 1);
    unsetenv("XDG_DESKTOP_DIR");
    unsetenv("XDG_CONFIG_HOME");
    int rc = RUN_ALL_TESTS();
    if (!std::getenv("VELANTO_KEEP_SANDBOX")) {
        std::error_code ec;
        fs::remove_all(testsupport::gSandbox, ec);
    }
    return rc;
}

#include "VelantoUtil/checkURL.h"

#include "VelantoUtil/Log.h"

#include <cstring>
#include <regex>

namespace {

std::vector<std::string> patterns;
bool passed = false;

// Longer than any URL of a host name (253) with scheme and port; longer input could drive
// the regular-expression engine's recursion past the stack.
constexpr std::size_t kMaxOrigin = 512;

const char kUrlPattern[] =
    "^https?:\\/\\/(((25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)(\\.(25[0-5]|2[0-4][0-9]|[01]?[0-9]"
    "[0-9]?)){3})|(([a-zA-Z0-9]|[a-zA-Z0-9][a-zA-Z0-9\\-]{0,61}[a-zA-Z0-9])(\\.([a-zA-Z0-9]|"
    "[a-zA-Z0-9][a-zA-Z0-9\\-]{0,61}[a-zA-Z0-9]))*))\\/?(:\\d+)?$";

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n\f\v";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void logException(const char* key, const std::exception* error) {
    logWarning(key, error && error->what() && *error->what() ? error->what() : "Unknown exception");
}

} // namespace

void setUnlockURL(const char* domainList) {
    try {
        std::vector<std::string> pieces;
        const std::string text = domainList ? domainList : "";
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = text.find(';', start);
            pieces.push_back(text.substr(start, end == std::string::npos ? end : end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
        logNormal("Enable url check list", nullptr);
        std::vector<std::string> kept;
        for (auto& piece : pieces) {
            piece = trimmed(piece);
            if (!piece.empty() && piece.front() == '.') piece.insert(0, "*");
            if (!piece.empty() && piece.back() == '.') piece += "*";
            if (!piece.empty()) kept.push_back(piece);
        }
        passed = false;
        std::vector<std::string> made;
        for (const auto& piece : kept) {
            logNormal("Url check list: ", piece.c_str());
            made.push_back(replaceAll(replaceAll(piece, "*", "\\S*"), ".", "\\."));
        }
        patterns = made;
    } catch (const std::exception& error) {
        logException("setUnlockURL exception: ", &error);
    } catch (...) {
        logException("setUnlockURL exception: ", nullptr);
    }
}

void checkURL(const char* origin) {
    try {
        const std::string text = origin ? origin : "";
        static const std::regex url(kUrlPattern, std::regex::ECMAScript | std::regex::icase);
        if (text.size() > kMaxOrigin || !std::regex_match(text, url)) {
            logWarning("[Warning] ", "Input domain is not url");
            return;
        }
        if (patterns.empty()) return;
        logNormal("Unlock original domain input: ", text.c_str());
        std::string alternation;
        for (const auto& pattern : patterns) {
            alternation += "(" + pattern;
            if (!alternation.empty() && alternation.back() == '/') alternation.pop_back();
            alternation += "\\/?)|";
        }
        alternation.pop_back();
        std::string host = std::regex_replace(text, std::regex("https?:\\/\\/"), "");
        const std::size_t colon = host.find(':');
        if (colon != std::string::npos) host.erase(colon);
        if (std::regex_match(host,
                             std::regex(alternation, std::regex::ECMAScript | std::regex::icase)))
            passed = true;
    } catch (const std::exception& error) {
        logException("unlock exception: ", &error);
    } catch (...) {
        logException("unlock exception: ", nullptr);
    }
}

bool urlCheckPassed() {
    return passed;
}

void clearUnlockURL() {
    patterns.clear();
}

const std::vector<std::string>& unlockUrlList() {
    return patterns;
}

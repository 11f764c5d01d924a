// The domain check: may a page of this origin read a value stored for these domains?
#pragma once

#include <string>
#include <vector>

// Replaces the pattern list with the patterns of a ";"-separated domain list ("*" any run of
// non-blanks, a leading or trailing "." widened with "*") and clears the outcome.
void setUnlockURL(const char* domainList);
// Sets the outcome when the origin's host matches one of the patterns as a whole.
void checkURL(const char* origin);
bool urlCheckPassed();
void clearUnlockURL();
// The current patterns, as regular-expression texts.
const std::vector<std::string>& unlockUrlList();

// The adapter plug-in's two exports, as a host looks them up by name.
#pragma once

struct JsonMap;

// Answers one JSON call text; the answer stays the adapter's until its next call.
using CallMethodFunction = const char* (*)(const char* json);
// Answers one call given as a sorted JsonMap, which stays the caller's.
using CallJsonMapMethodFunction = const char* (*)(JsonMap* map, const char* functionName);

constexpr char kAdapterVersion[] = "1,0,20,521";

// Adapter answer codes.
constexpr int kAdapterNoFunction = 61005;
constexpr int kAdapterComponentError = 61011;
constexpr int kAdapterMissingParameter = 61016;
constexpr int kAdapterNoComponent = 61905;

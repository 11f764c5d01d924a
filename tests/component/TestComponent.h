// The test signing component: an in-process server whose members record each call and
// answer from a script the test sets. A test reaches the state of the loaded server
// through its export VelantoTestComponentState.
#pragma once

#include "Component/Com.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

// {6E3C1D2A-5B4F-4A8E-9C71-2D0F3B6A8E51}
constexpr GUID kTestComponentClsid = {
    0x6E3C1D2A, 0x5B4F, 0x4A8E, {0x9C, 0x71, 0x2D, 0x0F, 0x3B, 0x6A, 0x8E, 0x51}};

struct RecordedCall {
    int order = 0;
    std::string member;
    // "T:<utf-8>" or "T:<null>" for texts, "I:<n>" for integers, "V:<vt>:<utf-8>" for VARIANTs.
    std::vector<std::string> arguments;
};

struct ListItem {
    VARTYPE vt = VT_BSTR; // VT_BSTR, VT_I4, VT_INT, VT_BOOL, ...
    std::string text;
    int number = 0;
};

struct ScriptedAnswer {
    enum class Kind { Text, NullText, Number, List, Bool, Failure } kind = Kind::Text;
    std::string text;
    int number = 0;
    std::vector<ListItem> list;
    VARTYPE arrayType = VT_VARIANT; // element type of a list's array
    bool flag = false;
    HRESULT hr = E_FAIL;
};

struct TestComponentState {
    // While watching, the text arguments of each call are noted here, so that a test can
    // see how the caller treats them when it frees them.
    static constexpr int kWatchSlots = 16;
    bool watchTexts = false;
    const void* watchedBlocks[kWatchSlots] = {};
    unsigned watchedBytes[kWatchSlots] = {};
    int watchedCount = 0;

    std::mutex mutex;
    std::vector<RecordedCall> calls;
    std::map<int, ScriptedAnswer> answers; // by member order; unset members answer a default
    int liveObjects = 0;
};

using TestComponentStateFunction = TestComponentState* (*)();

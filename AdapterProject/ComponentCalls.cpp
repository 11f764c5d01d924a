// The 134 component handlers, generated from the member table: each reads its parameters
// in call order, calls one member of ISigningComponent and turns its output into the
// answer. One pattern serves all of them.
#include "AdapterProject/ComponentCalls.h"

#include "AdapterProject/AdapterProject.h"
#include "AdapterProject/AdapterState.h"
#include "Component/SigningComponent.h"
#include "VelantoUtil/Adapter.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace {

enum class ParamKind { Text, Integer, TextVariant, Output };

struct ParamSpec {
    const char* key;
    ParamKind kind;
};

// ---- Arguments: each owns what it passes and cleans up on every path -------------------

template <class T>
struct Argument;

template <>
struct Argument<BSTR> {
    BSTR value = nullptr;
    void read(JsonMap* map, const char* key) { value = getJsonMapWideString(map, key); }
    BSTR pass() { return value; }
    ~Argument() {
        // The text may have carried a secret: zero it before it goes back to the heap.
        if (value) secureZero(value, SysStringByteLen(value));
        SysFreeString(value);
    }
};

template <>
struct Argument<int> {
    int value = 0;
    void read(JsonMap* map, const char* key) { value = getJsonMapInt(map, key); }
    int pass() { return value; }
};

template <>
struct Argument<VARIANT> {
    VARIANT value;
    Argument() { VariantInit(&value); }
    void read(JsonMap* map, const char* key) { value = getJsonMapTextVariant(map, key); }
    VARIANT pass() { return value; }
    ~Argument() { VariantClear(&value); }
};

template <>
struct Argument<BSTR*> {
    BSTR value = nullptr;
    void read(JsonMap*, const char*) {}
    BSTR* pass() { return &value; }
    void answer() {
        const std::string text = utf16ToUtf8(value, SysStringLen(value));
        if (!text.empty()) setAnswer(text.c_str());
    }
    ~Argument() { SysFreeString(value); }
};

template <>
struct Argument<int*> {
    int value = 0;
    void read(JsonMap*, const char*) {}
    int* pass() { return &value; }
    void answer() { setAnswerNumber(value); }
};

template <>
struct Argument<VARIANT*> {
    VARIANT value;
    Argument() { VariantInit(&value); }
    void read(JsonMap*, const char*) {}
    VARIANT* pass() { return &value; }
    void answer() {
        const std::string text = VariantToText(&value);
        if (!text.empty()) setAnswer(text.c_str());
    }
    ~Argument() { VariantClear(&value); }
};

// BSTR is itself a pointer: the outputs are exactly these three.
template <class T>
constexpr bool isOutput = std::is_same<T, BSTR*>::value || std::is_same<T, int*>::value ||
                          std::is_same<T, VARIANT*>::value;

// ---- The handler pattern ----------------------------------------------------------------

template <class Row, class... A>
void callComponent(JsonMap* map, HRESULT (ISigningComponent::*member)(A...)) {
    const std::string handlerName = std::string("ComponentAPI_") + Row::name;
    logNormal("Into adapter function: ", handlerName.c_str());
    std::tuple<Argument<A>...> arguments;
    constexpr bool hasParameters = ((!isOutput<A>) || ...);
    try {
        if (hasParameters) {
            keyCheckArmed = true;
            lastErrorCode = 0;
            std::size_t i = 0;
            std::apply([&](auto&... argument) { (argument.read(map, Row::params[i++].key), ...); },
                       arguments);
            keyCheckArmed = false;
            if (lastErrorCode != 0 && getJsonMapBool(map, "AdapterJsonKeyCheck")) {
                setAnswerNumber(lastErrorCode);
                return;
            }
        }
        logNormal("Ready into component func: ", Row::name);
        ISigningComponent* component = adapterComponent();
        if (!component) throwComError(E_POINTER);
        const HRESULT hr = std::apply(
            [&](auto&... argument) { return (component->*member)(argument.pass()...); }, arguments);
        throwIfFailed(hr);
        logNormal("Finish component func: ", Row::name);
        if constexpr (sizeof...(A) > 0 &&
                      isOutput<std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>>)
            std::get<sizeof...(A) - 1>(arguments).answer();
        else
            setAnswer("0");
    } catch (const ComError&) {
        keyCheckArmed = false;
        reportComponentError(handlerName.c_str(), __LINE__);
    }
}

template <class Row>
void componentHandler(JsonMap* map) {
    callComponent<Row>(map, Row::member);
}

struct Registration {
    int index;
    const char* name;
    AdapterHandler handler;
};

// One row type per adapter function, generated from the member table.
#define VELANTO_EXPAND(...) __VA_ARGS__
#define T(key)                                                                                     \
    ParamSpec {                                                                                    \
#key, ParamKind::Text                                                                      \
    }
#define I(key)                                                                                     \
    ParamSpec {                                                                                    \
#key, ParamKind::Integer                                                                   \
    }
#define V(key)                                                                                     \
    ParamSpec {                                                                                    \
#key, ParamKind::TextVariant                                                               \
    }
#define OUT_TEXT                                                                                   \
    ParamSpec {                                                                                    \
        nullptr, ParamKind::Output                                                                 \
    }
#define OUT_NUMBER                                                                                 \
    ParamSpec {                                                                                    \
        nullptr, ParamKind::Output                                                                 \
    }
#define OUT_LIST                                                                                   \
    ParamSpec {                                                                                    \
        nullptr, ParamKind::Output                                                                 \
    }
#define VELANTO_ROW(rowName, functionName, rowIndex, memberName, ...)                              \
    struct rowName {                                                                               \
        static constexpr int index = rowIndex;                                                     \
        static constexpr const char* name = functionName;                                          \
        static constexpr auto member = &ISigningComponent::memberName;                             \
        static constexpr ParamSpec params[] = {__VA_ARGS__};                                       \
    };
#define VELANTO_ROW_METHOD(order, index, name, params)                                             \
    VELANTO_ROW(Row_##name, #name, index, name, VELANTO_EXPAND params)
#define VELANTO_PROPERTY_IN_TEXT(key) T(key)
#define VELANTO_PROPERTY_IN_INT(key) I(key)
#define VELANTO_ROW_PROPERTY(getOrder, putOrder, name, kind, propput, propget, get, put)           \
    VELANTO_ROW(Row_propput_##name, "VelantoProperty_propput_" #name, propput, put_##name,         \
                VELANTO_PROPERTY_IN_##kind(PropertyParameter))                                     \
    VELANTO_ROW(Row_propget_##name, "VelantoProperty_propget_" #name, propget, get_##name,         \
                OUT_TEXT)                                                                          \
    VELANTO_ROW(Row_Get_##name, "Get" #name, get, get_##name, OUT_TEXT)                            \
    VELANTO_ROW(Row_Put_##name, "Put" #name, put, put_##name, VELANTO_PROPERTY_IN_##kind(pVal))
VELANTO_SIGNING_MEMBERS(VELANTO_ROW_METHOD, VELANTO_ROW_PROPERTY)

#define VELANTO_REGISTER(rowName) {rowName::index, rowName::name, componentHandler<rowName>},
#define VELANTO_REGISTER_METHOD(order, index, name, params) VELANTO_REGISTER(Row_##name)
#define VELANTO_REGISTER_PROPERTY(getOrder, putOrder, name, ...)                                   \
    VELANTO_REGISTER(Row_propput_##name)                                                           \
    VELANTO_REGISTER(Row_propget_##name)                                                           \
    VELANTO_REGISTER(Row_Get_##name) VELANTO_REGISTER(Row_Put_##name)
const Registration kComponentFunctions[] = {
    VELANTO_SIGNING_MEMBERS(VELANTO_REGISTER_METHOD, VELANTO_REGISTER_PROPERTY)};
#undef VELANTO_REGISTER_PROPERTY
#undef VELANTO_REGISTER_METHOD
#undef VELANTO_REGISTER
#undef VELANTO_ROW_PROPERTY
#undef VELANTO_PROPERTY_IN_INT
#undef VELANTO_PROPERTY_IN_TEXT
#undef VELANTO_ROW_METHOD
#undef VELANTO_ROW
#undef OUT_LIST
#undef OUT_NUMBER
#undef OUT_TEXT
#undef V
#undef I
#undef T
#undef VELANTO_EXPAND

constexpr int kComponentFunctionCount =
    sizeof(kComponentFunctions) / sizeof(kComponentFunctions[0]);
static_assert(kComponentFunctionCount == 134, "98 methods and 36 property names");

// The table's parameters are the member's inputs in order, then its output if it has one.
template <class Row, class... A>
constexpr bool paramsMatch(HRESULT (ISigningComponent::*)(A...)) {
    if (sizeof(Row::params) / sizeof(ParamSpec) != sizeof...(A)) return false;
    const ParamKind kinds[] = {(std::is_same<A, BSTR>::value      ? ParamKind::Text
                                : std::is_same<A, int>::value     ? ParamKind::Integer
                                : std::is_same<A, VARIANT>::value ? ParamKind::TextVariant
                                                                  : ParamKind::Output)...};
    for (std::size_t i = 0; i < sizeof...(A); ++i)
        if (kinds[i] != Row::params[i].kind) return false;
    return true;
}
#define VELANTO_CHECK(rowName)                                                                     \
    static_assert(paramsMatch<rowName>(rowName::member), #rowName " parameters");
#define VELANTO_CHECK_METHOD(order, index, name, params) VELANTO_CHECK(Row_##name)
#define VELANTO_CHECK_PROPERTY(getOrder, putOrder, name, ...)                                      \
    VELANTO_CHECK(Row_propput_##name)                                                              \
    VELANTO_CHECK(Row_propget_##name) VELANTO_CHECK(Row_Get_##name) VELANTO_CHECK(Row_Put_##name)
VELANTO_SIGNING_MEMBERS(VELANTO_CHECK_METHOD, VELANTO_CHECK_PROPERTY)
#undef VELANTO_CHECK_PROPERTY
#undef VELANTO_CHECK_METHOD
#undef VELANTO_CHECK

} // namespace

void registerComponentFunctions(AdapterMap* map) {
    const Registration* byIndex[kComponentFunctionCount] = {};
    for (const auto& registration : kComponentFunctions)
        byIndex[registration.index] = &registration;
    for (const Registration* registration : byIndex)
        if (registration) EnableAdapterFunction(map, registration->handler, registration->name);
}

BSTR getJsonMapWideString(JsonMap* map, const char* key) {
    char* text = getJsonMapString(map, key);
    if (!text) return nullptr;
    BSTR wide = bstrFromUtf8(text);
    freeZeroed(text);
    if (!wide) throwComError(E_OUTOFMEMORY);
    return wide;
}

VARIANT getJsonMapTextVariant(JsonMap* map, const char* key) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    char* text = getJsonMapString(map, key);
    if (!text) return value;
    const std::string utf8 = platform::systemCodePageToUtf8(text);
    std::free(text);
    value.bstrVal = bstrFromUtf8(utf8.c_str());
    if (!value.bstrVal) throwComError(E_OUTOFMEMORY);
    return value;
}

std::string VariantToText(VARIANT* value) {
    std::string result;
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT copied = VariantCopy(&copy, value);
    if (FAILED(copied)) {
        VariantClear(value);
        throwComError(copied);
    }
    if (copy.vt == VT_BOOL) {
        result = copy.boolVal ? "1" : "0";
    } else if (copy.vt & VT_ARRAY) {
        const VARTYPE elementType = static_cast<VARTYPE>(copy.vt & ~VT_ARRAY);
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(copy.parray, 1, &lower);
        SafeArrayGetUBound(copy.parray, 1, &upper);
        for (LONG i = lower; i <= upper; ++i) {
            if (elementType != VT_VARIANT) {
                std::printf("Error!! value->vt & ~VT_ARRAY = %d\n", elementType);
                continue;
            }
            VARIANT element;
            VariantInit(&element);
            if (FAILED(SafeArrayGetElement(copy.parray, &i, &element))) continue;
            if (element.vt == VT_I4 || element.vt == VT_INT) {
                VARIANT text;
                VariantInit(&text);
                if (SUCCEEDED(VariantChangeType(&text, &element, 0, VT_BSTR)))
                    result += utf8FromBstr(text.bstrVal);
                VariantClear(&text);
            } else if (element.vt == VT_BSTR) {
                result += utf8FromBstr(element.bstrVal);
            }
            result += ";";
            VariantClear(&element);
        }
    }
    VariantClear(&copy);
    VariantClear(value);
    return result;
}

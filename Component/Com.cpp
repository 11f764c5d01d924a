#include "Component/Com.h"

#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <new>

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

constexpr USHORT FADF_HAVEVARTYPE = 0x80;
constexpr USHORT FADF_BSTR = 0x100;
constexpr USHORT FADF_VARIANT = 0x800;

// Per-thread initialisation counts. Kept in a table rather than in thread-local storage, so
// that a library holding this code can be loaded and unloaded many times over.
std::mutex& comInitMutex() {
    static std::mutex mutex;
    return mutex;
}
std::map<std::thread::id, int>& comInitCounts() {
    static std::map<std::thread::id, int> counts;
    return counts;
}
int comInitCount() {
    std::lock_guard<std::mutex> guard(comInitMutex());
    auto found = comInitCounts().find(std::this_thread::get_id());
    return found == comInitCounts().end() ? 0 : found->second;
}

// A SAFEARRAY carries its element type just before itself, as FADF_HAVEVARTYPE arrays do.
struct TypedArray {
    VARTYPE vt;
    SAFEARRAY array;
};

TypedArray* typed(SAFEARRAY* array) {
    return reinterpret_cast<TypedArray*>(reinterpret_cast<char*>(array) -
                                         offsetof(TypedArray, array));
}

std::size_t elementSize(VARTYPE vt) {
    switch (vt) {
    case VT_I2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
        return 4;
    case VT_BSTR:
        return sizeof(BSTR);
    case VT_UNKNOWN:
        return sizeof(IUnknown*);
    case VT_VARIANT:
        return sizeof(VARIANT);
    default:
        return 0;
    }
}

HRESULT elementAt(SAFEARRAY* array, LONG* indices, void** element) {
    if (!array || !indices) return E_INVALIDARG;
    const LONG offset = indices[0] - array->rgsabound[0].lLbound;
    if (offset < 0 || static_cast<ULONG>(offset) >= array->rgsabound[0].cElements)
        return DISP_E_BADINDEX;
    *element =
        static_cast<char*>(array->pvData) + static_cast<std::size_t>(offset) * array->cbElements;
    return S_OK;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool readHex(const char*& p, int digits, std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < digits; ++i, ++p) {
        int d = hexDigit(*p);
        if (d < 0) return false;
        value = value << 4 | static_cast<unsigned>(d);
    }
    return true;
}

// The library path registered for the class, taken under the machine root.
bool registeredLibrary(REFCLSID clsid, std::string& library) {
    std::string content;
    if (!platform::readTextFile(classRegistrationPath(clsid), content)) return false;
    static const std::string key = "InprocServer32=";
    std::size_t at = content.find(key);
    if (at == std::string::npos) return false;
    std::size_t end = content.find('\n', at);
    std::string path = content.substr(
        at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
    if (path.empty()) return false;
    library = platform::machineRoot() + path;
    return true;
}

std::mutex& serversMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

bool operator==(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof(a.Data4)) == 0;
}

bool parseGuid(const char* text, GUID& out) {
    if (!text) return false;
    const char* p = text;
    const bool braced = *p == '{';
    if (braced) ++p;
    std::uint64_t v = 0;
    if (!readHex(p, 8, v) || *p++ != '-') return false;
    out.Data1 = static_cast<std::uint32_t>(v);
    if (!readHex(p, 4, v) || *p++ != '-') return false;
    out.Data2 = static_cast<std::uint16_t>(v);
    if (!readHex(p, 4, v) || *p++ != '-') return false;
    out.Data3 = static_cast<std::uint16_t>(v);
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && *p++ != '-') return false;
        if (!readHex(p, 2, v)) return false;
        out.Data4[i] = static_cast<std::uint8_t>(v);
    }
    if (braced && *p++ != '}') return false;
    return *p == '\0';
}

std::string guidToString(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// ---- BSTR -------------------------------------------------------------------------------

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    const std::size_t bytes = static_cast<std::size_t>(length) * sizeof(OLECHAR);
    auto* block =
        static_cast<char*>(std::calloc(1, sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    const std::uint32_t prefix = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &prefix, sizeof(prefix));
    BSTR result = reinterpret_cast<BSTR>(block + sizeof(prefix));
    if (text) std::memcpy(result, text, bytes);
    return result;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    UINT length = 0;
    while (text[length])
        ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
    if (text) std::free(reinterpret_cast<char*>(text) - sizeof(std::uint32_t));
}

UINT SysStringByteLen(BSTR text) {
    if (!text) return 0;
    std::uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<char*>(text) - sizeof(prefix), sizeof(prefix));
    return prefix;
}

UINT SysStringLen(BSTR text) {
    return SysStringByteLen(text) / sizeof(OLECHAR);
}

BSTR bstrFromUtf8(const char* text) {
    if (!text) return nullptr;
    std::u16string wide = utf8ToUtf16(text);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string utf8FromBstr(BSTR text) {
    return utf16ToUtf8(text, SysStringLen(text));
}

// ---- VARIANT ----------------------------------------------------------------------------

void VariantInit(VARIANT* v) {
    if (v) std::memset(v, 0, sizeof(*v));
}

HRESULT VariantClear(VARIANT* v) {
    if (!v) return E_INVALIDARG;
    if (v->vt & VT_ARRAY) {
        SafeArrayDestroy(v->parray);
    } else if (!(v->vt & VT_BYREF)) {
        if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
        if (v->vt == VT_UNKNOWN && v->punkVal) v->punkVal->Release();
    }
    std::memset(v, 0, sizeof(*v));
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    VARIANT copy = *src;
    if (src->vt & VT_ARRAY) {
        copy.parray = SafeArrayCopyOf(src->parray);
        if (src->parray && !copy.parray) return E_OUTOFMEMORY;
    } else if (src->vt == VT_BSTR && src->bstrVal) {
        copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if (src->vt == VT_UNKNOWN && src->punkVal) {
        src->punkVal->AddRef();
    }
    VariantClear(dest);
    *dest = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT, VARTYPE vt) {
    if (!dest || !src) return E_INVALIDARG;
    if (src->vt == vt) return VariantCopy(dest, src);
    VARIANT result;
    VariantInit(&result);
    result.vt = vt;
    long long number = 0;
    bool numeric = true;
    switch (src->vt) {
    case VT_I2:
        number = src->iVal;
        break;
    case VT_I4:
        number = src->lVal;
        break;
    case VT_INT:
        number = src->intVal;
        break;
    case VT_BOOL:
        number = src->boolVal ? -1 : 0;
        break;
    default:
        numeric = false;
    }
    if (numeric && vt == VT_BSTR) {
        char text[24];
        std::snprintf(text, sizeof(text), "%lld", number);
        result.bstrVal = bstrFromUtf8(text);
        if (!result.bstrVal) return E_OUTOFMEMORY;
    } else if (numeric && (vt == VT_I4 || vt == VT_INT)) {
        result.lVal = static_cast<LONG>(number);
    } else if (numeric && vt == VT_BOOL) {
        result.boolVal = number ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (src->vt == VT_BSTR && (vt == VT_I4 || vt == VT_INT)) {
        std::string text = utf8FromBstr(src->bstrVal);
        char* end = nullptr;
        long long value = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || value > 0x7fffffffLL || value < -0x80000000LL)
            return DISP_E_TYPEMISMATCH;
        result.lVal = static_cast<LONG>(value);
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    VariantClear(dest);
    *dest = result;
    return S_OK;
}

// ---- SAFEARRAY --------------------------------------------------------------------------

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count) {
    const std::size_t size = elementSize(vt);
    if (size == 0) return nullptr;
    auto* block = static_cast<TypedArray*>(std::calloc(1, sizeof(TypedArray)));
    if (!block) return nullptr;
    void* data = std::calloc(count ? count : 1, size);
    if (!data) {
        std::free(block);
        return nullptr;
    }
    block->vt = vt;
    SAFEARRAY* array = &block->array;
    array->cDims = 1;
    array->fFeatures = static_cast<USHORT>(FADF_HAVEVARTYPE | (vt == VT_BSTR ? FADF_BSTR : 0) |
                                           (vt == VT_VARIANT ? FADF_VARIANT : 0));
    array->cbElements = static_cast<ULONG>(size);
    array->pvData = data;
    array->rgsabound[0].cElements = count;
    array->rgsabound[0].lLbound = lowerBound;
    return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (!array) return S_OK;
    const VARTYPE vt = typed(array)->vt;
    for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) {
        char* element = static_cast<char*>(array->pvData) + i * array->cbElements;
        if (vt == VT_VARIANT) VariantClear(reinterpret_cast<VARIANT*>(element));
        if (vt == VT_BSTR) SysFreeString(*reinterpret_cast<BSTR*>(element));
        if (vt == VT_UNKNOWN && *reinterpret_cast<IUnknown**>(element))
            (*reinterpret_cast<IUnknown**>(element))->Release();
    }
    std::free(array->pvData);
    std::free(typed(array));
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) {
    return array ? array->cDims : 0;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    if (!array || !vt) return E_INVALIDARG;
    *vt = typed(array)->vt;
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dimension != 1) return DISP_E_BADINDEX;
    *bound = array->rgsabound[0].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* bound) {
    if (!array || !bound) return E_INVALIDARG;
    if (dimension != 1) return DISP_E_BADINDEX;
    *bound = array->rgsabound[0].lLbound + static_cast<LONG>(array->rgsabound[0].cElements) - 1;
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value) {
    if (!value) return E_INVALIDARG;
    void* element = nullptr;
    HRESULT hr = elementAt(array, indices, &element);
    if (FAILED(hr)) return hr;
    const VARTYPE vt = typed(array)->vt;
    if (vt == VT_VARIANT) {
        auto* out = static_cast<VARIANT*>(value);
        VariantInit(out);
        return VariantCopy(out, static_cast<VARIANT*>(element));
    }
    if (vt == VT_BSTR) {
        BSTR source = *static_cast<BSTR*>(element);
        BSTR copy = source ? SysAllocStringLen(source, SysStringLen(source)) : nullptr;
        if (source && !copy) return E_OUTOFMEMORY;
        *static_cast<BSTR*>(value) = copy;
        return S_OK;
    }
    if (vt == VT_UNKNOWN && *static_cast<IUnknown**>(element))
        (*static_cast<IUnknown**>(element))->AddRef();
    std::memcpy(value, element, array->cbElements);
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
    void* element = nullptr;
    HRESULT hr = elementAt(array, indices, &element);
    if (FAILED(hr)) return hr;
    const VARTYPE vt = typed(array)->vt;
    if (vt == VT_VARIANT) {
        if (!value) return E_INVALIDARG;
        return VariantCopy(static_cast<VARIANT*>(element), static_cast<VARIANT*>(value));
    }
    if (vt == VT_BSTR) {
        BSTR source = static_cast<BSTR>(value);
        BSTR copy = source ? SysAllocStringLen(source, SysStringLen(source)) : nullptr;
        if (source && !copy) return E_OUTOFMEMORY;
        SysFreeString(*static_cast<BSTR*>(element));
        *static_cast<BSTR*>(element) = copy;
        return S_OK;
    }
    if (!value) return E_INVALIDARG;
    if (vt == VT_UNKNOWN) {
        IUnknown* incoming = static_cast<IUnknown*>(value);
        incoming->AddRef();
        if (*static_cast<IUnknown**>(element)) (*static_cast<IUnknown**>(element))->Release();
        *static_cast<IUnknown**>(element) = incoming;
        return S_OK;
    }
    std::memcpy(element, value, array->cbElements);
    return S_OK;
}

SAFEARRAY* SafeArrayCopyOf(SAFEARRAY* array) {
    if (!array) return nullptr;
    const VARTYPE vt = typed(array)->vt;
    SAFEARRAY* copy =
        SafeArrayCreateVector(vt, array->rgsabound[0].lLbound, array->rgsabound[0].cElements);
    if (!copy) return nullptr;
    for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) {
        LONG index = array->rgsabound[0].lLbound + static_cast<LONG>(i);
        void* element = static_cast<char*>(array->pvData) + i * array->cbElements;
        void* value = vt == VT_BSTR      ? static_cast<void*>(*static_cast<BSTR*>(element))
                      : vt == VT_UNKNOWN ? static_cast<void*>(*static_cast<IUnknown**>(element))
                                         : element;
        if (vt == VT_UNKNOWN && !value) continue;
        if (FAILED(SafeArrayPutElement(copy, &index, value))) {
            SafeArrayDestroy(copy);
            return nullptr;
        }
    }
    return copy;
}

// ---- Runtime ----------------------------------------------------------------------------

HRESULT CoInitialize(void*) {
    std::lock_guard<std::mutex> guard(comInitMutex());
    return comInitCounts()[std::this_thread::get_id()]++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    std::lock_guard<std::mutex> guard(comInitMutex());
    auto found = comInitCounts().find(std::this_thread::get_id());
    if (found == comInitCounts().end()) return;
    if (--found->second <= 0) comInitCounts().erase(found);
}

std::string classRegistrationPath(REFCLSID clsid) {
    return platform::windowsDir() + "/velanto/classes/" + guidToString(clsid);
}

bool registerInprocServer(REFCLSID clsid, const std::string& libraryPath) {
    const std::string dir = platform::windowsDir() + "/velanto";
    platform::makeDirectory(platform::windowsDir());
    platform::makeDirectory(dir);
    platform::makeDirectory(dir + "/classes");
    return platform::writeTextFile(classRegistrationPath(clsid),
                                   "InprocServer32=" + libraryPath + "\n", false);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (comInitCount() == 0) return CO_E_NOTINITIALIZED;
    if (!(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string library;
    if (!registeredLibrary(clsid, library)) return REGDB_E_CLASSNOTREG;

    // A server stays loaded for the life of the process, as COM keeps it until asked to
    // free unused libraries; loading it again only finds the same library.
    DllGetClassObjectFunction getClassObject = nullptr;
    {
        std::lock_guard<std::mutex> guard(serversMutex());
        void* handle = platform::loadLibrary(library);
        if (!handle) return CO_E_DLLNOTFOUND;
        getClassObject = reinterpret_cast<DllGetClassObjectFunction>(
            platform::findSymbol(handle, "DllGetClassObject"));
        if (!getClassObject) {
            platform::freeLibrary(handle);
            return CO_E_ERRORINDLL;
        }
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    if (!factory) return E_POINTER;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    return hr;
}

HRESULT OleRun(IUnknown* object) {
    return object ? S_OK : E_INVALIDARG;
}

// ---- Errors -----------------------------------------------------------------------------

ComError::ComError(HRESULT hr) : hr_(hr) {
    std::snprintf(text_, sizeof(text_), "COM error 0x%08X", static_cast<unsigned>(hr));
}

void throwComError(HRESULT hr) {
    throw ComError(hr);
}

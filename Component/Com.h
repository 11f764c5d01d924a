// The least of COM and OLE Automation the adapter and an in-process server need, binary
// compatible in shape: interfaces are plain vtables, texts are length-prefixed UTF-16.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#define STDMETHODCALLTYPE
// Marks the exports of a library built with hidden visibility.
#define VELANTO_EXPORT extern "C" __attribute__((visibility("default")))

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using BOOL = int;
using LCID = std::uint32_t;
using DISPID = std::int32_t;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using BSTR = OLECHAR*;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr HRESULT hresult(std::uint32_t code) {
    return static_cast<HRESULT>(code);
}
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hresult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = hresult(0x80004002u);
constexpr HRESULT E_POINTER = hresult(0x80004003u);
constexpr HRESULT E_FAIL = hresult(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = hresult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = hresult(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = hresult(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresult(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = hresult(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = hresult(0x800401F0u);
constexpr HRESULT CO_E_ERRORINDLL = hresult(0x800401F9u);
constexpr HRESULT CO_E_DLLNOTFOUND = hresult(0x800401F8u);
constexpr HRESULT DISP_E_TYPEMISMATCH = hresult(0x80020005u);
constexpr HRESULT DISP_E_BADVARTYPE = hresult(0x80020008u);
constexpr HRESULT DISP_E_BADINDEX = hresult(0x8002000Bu);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_ALL = 0x17;

// ---- Identifiers -----------------------------------------------------------------------

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

bool operator==(const GUID& a, const GUID& b);
inline bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", braces optional on input; false when malformed.
bool parseGuid(const char* text, GUID& out);
std::string guidToString(const GUID& guid);

extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IClassFactory;

// ---- Interfaces (no virtual destructors: the vtable holds exactly the COM slots) -------

struct ITypeInfo;
struct DISPPARAMS;
struct EXCEPINFO;
struct VARIANT;

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IDispatch : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                    LCID locale, DISPID* ids) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                             DISPPARAMS* params, VARIANT* result,
                                             EXCEPINFO* exception, UINT* argumentError) = 0;
};

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                                     void** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

// The export an in-process server offers.
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, void**);

// ---- BSTR: a 32-bit byte length before the characters, a NUL after them -----------------

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// UTF-8 <-> BSTR. Null gives null; invalid UTF-8 becomes U+FFFD.
BSTR bstrFromUtf8(const char* text);
std::string utf8FromBstr(BSTR text);

// ---- VARIANT and one-dimensional SAFEARRAY ----------------------------------------------

enum : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_INT = 22,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
};

struct VariantRecord {
    void* pvRecord;
    void* pRecInfo;
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        int intVal;
        short iVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        SAFEARRAY* parray;
        VARIANT* pvarVal;
        VariantRecord record;
    };
};

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
// Deep copy; dest is cleared first.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Integers and booleans to and from text, and between integer kinds; dest may be src.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
UINT SafeArrayGetDim(SAFEARRAY* array);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* bound);
// Copies the element out: a VARIANT by VariantCopy, a BSTR as a new string.
HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value);
// Copies the value in: value points to a VARIANT, or is the BSTR itself for BSTR arrays.
HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);
SAFEARRAY* SafeArrayCopyOf(SAFEARRAY* array);

// ---- Runtime ----------------------------------------------------------------------------

// Per-thread initialisation count: S_OK the first time on a thread, S_FALSE after.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
// Finds the class's in-process server through its registration file, loads it and asks
// its class factory for the object.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);
HRESULT OleRun(IUnknown* object);

// The registration file of a class: $VELANTO_ROOT/etc/velanto/classes/{CLSID}, holding
// "InprocServer32=<path>"; the path is also taken under $VELANTO_ROOT.
std::string classRegistrationPath(REFCLSID clsid);
bool registerInprocServer(REFCLSID clsid, const std::string& libraryPath);

// ---- Errors -----------------------------------------------------------------------------

// A failed HRESULT raised as an exception; the adapter raises and catches only this type.
class ComError : public std::exception {
  public:
    explicit ComError(HRESULT hr);
    HRESULT Error() const { return hr_; }
    const char* what() const noexcept override { return text_; }

  private:
    HRESULT hr_;
    char text_[32];
};

[[noreturn]] void throwComError(HRESULT hr);
inline void throwIfFailed(HRESULT hr) {
    if (FAILED(hr)) throwComError(hr);
}

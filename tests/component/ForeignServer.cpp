// An in-process server whose objects offer only IUnknown: not a signing component.
#include "Component/Com.h"

#include <atomic>
#include <new>

namespace {

class Plain final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = riid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr;
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

  private:
    std::atomic<ULONG> references_{1};
};

class Factory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID riid, void** object) override {
        Plain* plain = new (std::nothrow) Plain();
        if (!plain) return E_OUTOFMEMORY;
        HRESULT hr = plain->QueryInterface(riid, object);
        plain->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

} // namespace

VELANTO_EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID riid, void** object) {
    static Factory factory;
    return factory.QueryInterface(riid, object);
}

// A base for implementations of ISigningComponent, generated from the member table: every
// member forwards to Impl::invoke(SigningMember<order>{}, arguments...), so an
// implementation writes overloads for the members it serves and one catch-all template.
#pragma once

#include "Component/SigningComponent.h"

#include <atomic>

template <int Order>
struct SigningMember {
    static constexpr int order = Order;
};

// IUnknown (reference counted; the object deletes itself) and an IDispatch without type
// information: callers use the vtable.
template <class Impl>
class SigningComponentRoot : public ISigningComponent {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ISigningComponent) {
            *object = static_cast<ISigningComponent*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete static_cast<Impl*>(this);
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

  private:
    std::atomic<ULONG> references_{1};
};

template <class Impl, int Order>
struct SigningChain;

template <class Impl>
struct SigningChain<Impl, 0> {
    using type = SigningComponentRoot<Impl>;
};

// One layer per member, each deriving from the layer of the member before it.
#define VELANTO_LAYER(order, member)                                                               \
    template <class Signature>                                                                     \
    struct SigningLayer_##member;                                                                  \
    template <class... A>                                                                          \
    struct SigningLayer_##member<HRESULT (ISigningComponent::*)(A...)> {                           \
        template <class Impl, class Base>                                                          \
        struct With : Base {                                                                       \
            HRESULT STDMETHODCALLTYPE member(A... args) override {                                 \
                return static_cast<Impl*>(this)->invoke(SigningMember<order>{}, args...);          \
            }                                                                                      \
        };                                                                                         \
    };                                                                                             \
    template <class Impl>                                                                          \
    struct SigningChain<Impl, order> {                                                             \
        using type =                                                                               \
            typename SigningLayer_##member<decltype(&ISigningComponent::member)>::template With<   \
                Impl, typename SigningChain<Impl, order - 1>::type>;                               \
    };
#define VELANTO_LAYER_METHOD(order, index, name, params) VELANTO_LAYER(order, name)
#define VELANTO_LAYER_PROPERTY(getOrder, putOrder, name, ...)                                      \
    VELANTO_LAYER(getOrder, get_##name) VELANTO_LAYER(putOrder, put_##name)
VELANTO_SIGNING_MEMBERS(VELANTO_LAYER_METHOD, VELANTO_LAYER_PROPERTY)
#undef VELANTO_LAYER_PROPERTY
#undef VELANTO_LAYER_METHOD
#undef VELANTO_LAYER

template <class Impl>
using SigningComponentBase = typename SigningChain<Impl, kSigningMemberCount>::type;

// The class factory of an in-process server.
template <class Object>
class ComClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Object* created = new (std::nothrow) Object();
        if (!created) return E_OUTOFMEMORY;
        HRESULT hr = created->QueryInterface(riid, object);
        created->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  private:
    std::atomic<ULONG> references_{1};
};

// The body of DllGetClassObject for a server of one class.
template <class Object>
HRESULT serveClassObject(REFCLSID served, REFCLSID clsid, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != served) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new (std::nothrow) ComClassFactory<Object>();
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
}

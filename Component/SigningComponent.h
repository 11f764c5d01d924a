// ISigningComponent: the signing component's dual interface, declared from the member
// table so that its vtable order is the table's order.
#pragma once

#include "Component/Com.h"
#include "Component/SigningMembers.h"

// {97A10DCF-A8AA-806F-1239-AB90AD69A986}
extern const CLSID CLSID_SigningComponent;
// {93E3F694-61F0-E7E4-86BD-6405A43FD7B2}
extern const IID IID_ISigningComponent;

constexpr int kSigningMemberCount = 116;
// Slots before the first member: IUnknown's three and IDispatch's four.
constexpr int kSigningFirstSlot = 7;

struct ISigningComponent : IDispatch {
#define T(key) BSTR key
#define I(key) int key
#define V(key) VARIANT key
#define OUT_TEXT BSTR* result
#define OUT_NUMBER int* result
#define OUT_LIST VARIANT* result
#define VELANTO_GET_TEXT BSTR* value
#define VELANTO_GET_INT int* value
#define VELANTO_PUT_TEXT BSTR value
#define VELANTO_PUT_INT int value
#define VELANTO_DECLARE_METHOD(order, index, name, params)                                         \
    virtual HRESULT STDMETHODCALLTYPE name params = 0;
#define VELANTO_DECLARE_PROPERTY(getOrder, putOrder, name, kind, ...)                              \
    virtual HRESULT STDMETHODCALLTYPE get_##name(VELANTO_GET_##kind) = 0;                          \
    virtual HRESULT STDMETHODCALLTYPE put_##name(VELANTO_PUT_##kind) = 0;
    VELANTO_SIGNING_MEMBERS(VELANTO_DECLARE_METHOD, VELANTO_DECLARE_PROPERTY)
#undef VELANTO_DECLARE_PROPERTY
#undef VELANTO_DECLARE_METHOD
#undef VELANTO_PUT_INT
#undef VELANTO_PUT_TEXT
#undef VELANTO_GET_INT
#undef VELANTO_GET_TEXT
#undef OUT_LIST
#undef OUT_NUMBER
#undef OUT_TEXT
#undef V
#undef I
#undef T
};

// Each member's place in the vtable, by name: SigningOrder::QvCAPISign is 1,
// SigningOrder::get_HashAlgorithm 64.
namespace SigningOrder {
#define VELANTO_ORDER_METHOD(order, index, name, params) name = order,
#define VELANTO_ORDER_PROPERTY(getOrder, putOrder, name, ...)                                      \
    get_##name = getOrder, put_##name = putOrder,
enum : int { VELANTO_SIGNING_MEMBERS(VELANTO_ORDER_METHOD, VELANTO_ORDER_PROPERTY) };
#undef VELANTO_ORDER_PROPERTY
#undef VELANTO_ORDER_METHOD
} // namespace SigningOrder

// The member's name ("QvCAPISign", "get_HashAlgorithm"); null outside 1 .. 116.
const char* signingMemberName(int order);

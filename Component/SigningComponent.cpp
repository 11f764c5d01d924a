#include "Component/SigningComponent.h"

const CLSID CLSID_SigningComponent = {
    0x97A10DCF, 0xA8AA, 0x806F, {0x12, 0x39, 0xAB, 0x90, 0xAD, 0x69, 0xA9, 0x86}};
const IID IID_ISigningComponent = {
    0x93E3F694, 0x61F0, 0xE7E4, {0x86, 0xBD, 0x64, 0x05, 0xA4, 0x3F, 0xD7, 0xB2}};

const char* signingMemberName(int order) {
    static const char* const kNames[kSigningMemberCount + 1] = {
        nullptr,
#define VELANTO_NAME_METHOD(order, index, name, params) #name,
#define VELANTO_NAME_PROPERTY(getOrder, putOrder, name, ...) "get_" #name, "put_" #name,
        VELANTO_SIGNING_MEMBERS(VELANTO_NAME_METHOD, VELANTO_NAME_PROPERTY)
#undef VELANTO_NAME_PROPERTY
#undef VELANTO_NAME_METHOD
    };
    return order >= 1 && order <= kSigningMemberCount ? kNames[order] : nullptr;
}

namespace {

// The table lists the members in vtable order without gaps: 1, 2, ... 116.
constexpr int kTableOrders[] = {
#define VELANTO_ORDER_OF_METHOD(order, index, name, params) order,
#define VELANTO_ORDER_OF_PROPERTY(getOrder, putOrder, name, ...) getOrder, putOrder,
    VELANTO_SIGNING_MEMBERS(VELANTO_ORDER_OF_METHOD, VELANTO_ORDER_OF_PROPERTY)
#undef VELANTO_ORDER_OF_PROPERTY
#undef VELANTO_ORDER_OF_METHOD
};

constexpr bool ordersAreContiguous() {
    for (int i = 0; i < kSigningMemberCount; ++i)
        if (kTableOrders[i] != i + 1) return false;
    return sizeof(kTableOrders) / sizeof(kTableOrders[0]) == kSigningMemberCount;
}
static_assert(ordersAreContiguous(), "the member table must list orders 1 to 116 in sequence");

} // namespace

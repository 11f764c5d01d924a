#include "TestComponent.h"

#include "Component/SigningComponentBase.h"

#include <cstdint>
#include <string>

namespace {

TestComponentState& state() {
    static TestComponentState* shared = new TestComponentState();
    return *shared;
}

void describe(std::vector<std::string>& out, BSTR text) {
    out.push_back(text ? "T:" + utf8FromBstr(text) : "T:<null>");
    TestComponentState& s = state();
    if (text && s.watchTexts && s.watchedCount < TestComponentState::kWatchSlots) {
        s.watchedBlocks[s.watchedCount] =
            reinterpret_cast<const char*>(text) - sizeof(std::uint32_t);
        s.watchedBytes[s.watchedCount] = SysStringByteLen(text);
        ++s.watchedCount;
    }
}
void describe(std::vector<std::string>& out, int number) {
    out.push_back("I:" + std::to_string(number));
}
void describe(std::vector<std::string>& out, VARIANT value) {
    out.push_back("V:" + std::to_string(value.vt) + ":" +
                  (value.vt == VT_BSTR && value.bstrVal ? utf8FromBstr(value.bstrVal) : ""));
}
template <class Out>
void describe(std::vector<std::string>&, Out*) {} // the answer's output pointer

// Defaults when the test set no answer: the member's name as text, its order as number,
// an empty list.
void fill(const ScriptedAnswer* answer, const char* member, BSTR* out) {
    if (!out) return;
    if (answer && answer->kind == ScriptedAnswer::Kind::NullText) {
        *out = nullptr;
        return;
    }
    const std::string text = answer ? answer->text : std::string(member) + ":ok";
    *out = bstrFromUtf8(text.c_str());
}
void fill(const ScriptedAnswer* answer, int order, int* out) {
    if (out) *out = answer ? answer->number : order;
}
void fill(const ScriptedAnswer* answer, VARIANT* out) {
    if (!out) return;
    VariantInit(out);
    if (answer && answer->kind == ScriptedAnswer::Kind::Bool) {
        out->vt = VT_BOOL;
        out->boolVal = answer->flag ? VARIANT_TRUE : VARIANT_FALSE;
        return;
    }
    const VARTYPE arrayType = answer ? answer->arrayType : VARTYPE{VT_VARIANT};
    const std::vector<ListItem> items = answer ? answer->list : std::vector<ListItem>();
    SAFEARRAY* array = SafeArrayCreateVector(arrayType, 0, static_cast<ULONG>(items.size()));
    for (size_t i = 0; i < items.size() && array; ++i) {
        LONG index = static_cast<LONG>(i);
        if (arrayType == VT_BSTR) {
            BSTR text = bstrFromUtf8(items[i].text.c_str());
            SafeArrayPutElement(array, &index, text);
            SysFreeString(text);
            continue;
        }
        VARIANT item;
        VariantInit(&item);
        item.vt = items[i].vt;
        if (item.vt == VT_BSTR)
            item.bstrVal = bstrFromUtf8(items[i].text.c_str());
        else if (item.vt == VT_BOOL)
            item.boolVal = items[i].number ? VARIANT_TRUE : VARIANT_FALSE;
        else
            item.lVal = items[i].number;
        SafeArrayPutElement(array, &index, &item);
        VariantClear(&item);
    }
    out->vt = VT_ARRAY | arrayType;
    out->parray = array;
}

class TestComponent final : public SigningComponentBase<TestComponent> {
  public:
    TestComponent() {
        std::lock_guard<std::mutex> guard(state().mutex);
        ++state().liveObjects;
    }
    ~TestComponent() {
        std::lock_guard<std::mutex> guard(state().mutex);
        --state().liveObjects;
    }

    template <int Order, class... A>
    HRESULT invoke(SigningMember<Order>, A... args) {
        const char* member = signingMemberName(Order);
        ScriptedAnswer answer;
        bool scripted = false;
        {
            std::lock_guard<std::mutex> guard(state().mutex);
            RecordedCall call;
            call.order = Order;
            call.member = member;
            (describe(call.arguments, args), ...);
            state().calls.push_back(call);
            auto found = state().answers.find(Order);
            if (found != state().answers.end()) answer = found->second, scripted = true;
        }
        if (scripted && answer.kind == ScriptedAnswer::Kind::Failure) return answer.hr;
        const ScriptedAnswer* script = scripted ? &answer : nullptr;
        (fillOutput(script, member, Order, args), ...);
        return S_OK;
    }

  private:
    template <class Value>
    static void fillOutput(const ScriptedAnswer*, const char*, int, Value) {}
    static void fillOutput(const ScriptedAnswer* a, const char* member, int, BSTR* out) {
        fill(a, member, out);
    }
    static void fillOutput(const ScriptedAnswer* a, const char*, int order, int* out) {
        fill(a, order, out);
    }
    static void fillOutput(const ScriptedAnswer* a, const char*, int, VARIANT* out) {
        fill(a, out);
    }
};

} // namespace

VELANTO_EXPORT TestComponentState* VelantoTestComponentState() {
    return &state();
}

VELANTO_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    // Serves its own class and stands in for the signing component's.
    const CLSID& served =
        clsid == CLSID_SigningComponent ? CLSID_SigningComponent : kTestComponentClsid;
    return serveClassObject<TestComponent>(served, clsid, riid, object);
}

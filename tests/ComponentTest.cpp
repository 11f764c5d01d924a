// The COM-compatible binding layer and the reference signing component.
#include "Component/SigningComponent.h"
#include "Sandbox.h"
#include "TestComponent.h"
#include "VelantoUtil/platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr HRESULT E_ACCESSDENIED_FOR_TEST = hresult(0x80070005u);
const char kRegisteredComponent[] =
    "/opt/KestovaQvCAPIVelanto/Component/KestovaSigningComponent.so";

std::string libDir() {
    return fs::path(binDir()).parent_path().string() + "/lib";
}

// Places a built library inside the sandbox root and registers it, as an installer would.
void installServer(const GUID& clsid, const std::string& built, const std::string& registered) {
    const std::string target = rootDir() + registered;
    fs::create_directories(fs::path(target).parent_path());
    fs::copy_file(built, target, fs::copy_options::overwrite_existing);
    ASSERT_TRUE(registerInprocServer(clsid, registered));
}

// The vtable slot of a virtual member, from its Itanium ABI member-pointer value.
template <class Member>
long slotOf(Member member) {
    struct {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } raw;
    static_assert(sizeof(raw) == sizeof(member), "Itanium member pointer");
    std::memcpy(&raw, &member, sizeof(raw));
    return static_cast<long>((raw.ptr - 1) / sizeof(void*));
}

std::string text(BSTR value) {
    std::string out = value ? utf8FromBstr(value) : "<null>";
    SysFreeString(value);
    return out;
}

class Bstr {
  public:
    explicit Bstr(const char* utf8) : value_(bstrFromUtf8(utf8)) {}
    ~Bstr() { SysFreeString(value_); }
    operator BSTR() const { return value_; }

  private:
    BSTR value_;
};

VARIANT textVariant(const char* utf8) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = bstrFromUtf8(utf8);
    return v;
}

class ReferenceComponentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        installServer(CLSID_SigningComponent, libDir() + "/KestovaSigningComponent.so",
                      kRegisteredComponent);
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        IUnknown* unknown = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_SigningComponent, nullptr, CLSCTX_ALL, IID_IUnknown,
                                   reinterpret_cast<void**>(&unknown)),
                  S_OK);
        ASSERT_EQ(OleRun(unknown), S_OK);
        ASSERT_EQ(unknown->QueryInterface(IID_ISigningComponent, reinterpret_cast<void**>(&c)),
                  S_OK);
        unknown->Release();
    }
    void TearDown() override {
        if (c) c->Release();
        CoUninitialize();
    }
    int errorCode() {
        int code = -1;
        EXPECT_EQ(c->GetErrorCode(&code), S_OK);
        return code;
    }
    std::string fixture(const char* name) {
        return readFile(std::string(VELANTO_TEST_FIXTURES) + "/" + name);
    }

    ISigningComponent* c = nullptr;
};

} // namespace

TEST(ComTypes, Guids) {
    EXPECT_EQ(guidToString(CLSID_SigningComponent), "{97A10DCF-A8AA-806F-1239-AB90AD69A986}");
    EXPECT_EQ(guidToString(IID_ISigningComponent), "{93E3F694-61F0-E7E4-86BD-6405A43FD7B2}");
    GUID parsed{};
    ASSERT_TRUE(parseGuid("{93e3f694-61f0-e7e4-86bd-6405a43fd7b2}", parsed));
    EXPECT_EQ(parsed, IID_ISigningComponent);
    ASSERT_TRUE(parseGuid("97A10DCF-A8AA-806F-1239-AB90AD69A986", parsed));
    EXPECT_EQ(parsed, CLSID_SigningComponent);
    for (const char* bad :
         {"", "{97A10DCF-A8AA-806F-1239-AB90AD69A986", "{97A10DCF}",
          "{97A10DCF-A8AA-806F-1239-AB90AD69A98G}", "{97A10DCF-A8AA-806F-1239-AB90AD69A986}x"})
        EXPECT_FALSE(parseGuid(bad, parsed)) << bad;
    EXPECT_FALSE(parseGuid(nullptr, parsed));
}

TEST(ComTypes, BstrLengthPrefix) {
    const char16_t raw[] = {u'a', u'\0', u'b'};
    BSTR withNul = SysAllocStringLen(raw, 3);
    EXPECT_EQ(SysStringLen(withNul), 3u);
    EXPECT_EQ(SysStringByteLen(withNul), 6u);
    std::uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<char*>(withNul) - 4, 4);
    EXPECT_EQ(prefix, 6u);
    EXPECT_EQ(withNul[3], u'\0'); // terminated after the counted characters
    EXPECT_EQ(utf8FromBstr(withNul), std::string("a\0b", 3));
    SysFreeString(withNul);

    BSTR wide = bstrFromUtf8("Kestova \xe5\x8f\xb0 \xf0\x9f\x98\x80");
    EXPECT_EQ(SysStringLen(wide), 12u); // the emoji takes a surrogate pair
    EXPECT_EQ(utf8FromBstr(wide), "Kestova \xe5\x8f\xb0 \xf0\x9f\x98\x80");
    SysFreeString(wide);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(bstrFromUtf8(nullptr), nullptr);
    SysFreeString(nullptr);
    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
}

TEST(ComTypes, VariantCopyClearAndConversion) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    ASSERT_NE(array, nullptr);
    VARIANT item = textVariant("A");
    LONG index = 0;
    EXPECT_EQ(SafeArrayPutElement(array, &index, &item), S_OK);
    VariantClear(&item);
    item.vt = VT_I4;
    item.lVal = 5;
    index = 1;
    EXPECT_EQ(SafeArrayPutElement(array, &index, &item), S_OK);
    index = 3;
    EXPECT_EQ(SafeArrayPutElement(array, &index, &item), DISP_E_BADINDEX);

    VARIANT list;
    VariantInit(&list);
    list.vt = VT_ARRAY | VT_VARIANT;
    list.parray = array;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &list), S_OK);
    EXPECT_NE(copy.parray, list.parray); // deep
    VariantClear(&list);                 // the copy lives on alone

    LONG lower = -1, upper = -1;
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetLBound(copy.parray, 1, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(copy.parray, 1, &upper), S_OK);
    EXPECT_EQ(SafeArrayGetVartype(copy.parray, &vt), S_OK);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 2);
    EXPECT_EQ(vt, VT_VARIANT);
    EXPECT_EQ(SafeArrayGetDim(copy.parray), 1u);
    VARIANT element;
    index = 0;
    ASSERT_EQ(SafeArrayGetElement(copy.parray, &index, &element), S_OK);
    EXPECT_EQ(element.vt, VT_BSTR);
    EXPECT_EQ(utf8FromBstr(element.bstrVal), "A");
    VariantClear(&element);
    index = 1;
    ASSERT_EQ(SafeArrayGetElement(copy.parray, &index, &element), S_OK);
    VARIANT asText;
    VariantInit(&asText);
    ASSERT_EQ(VariantChangeType(&asText, &element, 0, VT_BSTR), S_OK);
    EXPECT_EQ(utf8FromBstr(asText.bstrVal), "5");
    ASSERT_EQ(VariantChangeType(&asText, &asText, 0, VT_I4), S_OK); // in place
    EXPECT_EQ(asText.vt, VT_I4);
    EXPECT_EQ(asText.lVal, 5);
    index = 2;
    ASSERT_EQ(SafeArrayGetElement(copy.parray, &index, &element), S_OK);
    EXPECT_EQ(element.vt, VT_EMPTY);
    EXPECT_EQ(VariantChangeType(&asText, &element, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    VARIANT bad = textVariant("12x");
    EXPECT_EQ(VariantChangeType(&asText, &bad, 0, VT_I4), DISP_E_TYPEMISMATCH);
    VariantClear(&bad);
    VariantClear(&asText);
    VariantClear(&copy);
    EXPECT_EQ(copy.vt, VT_EMPTY);

    SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 1, 1);
    BSTR value = bstrFromUtf8("kept");
    index = 1;
    EXPECT_EQ(SafeArrayPutElement(texts, &index, value), S_OK);
    SysFreeString(value); // the array holds its own copy
    BSTR out = nullptr;
    EXPECT_EQ(SafeArrayGetElement(texts, &index, &out), S_OK);
    EXPECT_EQ(text(out), "kept");
    EXPECT_EQ(SafeArrayDestroy(texts), S_OK);
    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
}

TEST(SigningInterface, VtableFollowsTheMemberTable) {
    EXPECT_EQ(slotOf(&ISigningComponent::QueryInterface), 0);
    EXPECT_EQ(slotOf(&ISigningComponent::Invoke), 6);
    // Every member sits at the slot its order gives, in the one table's order.
#define T(key) BSTR
#define I(key) int
#define V(key) VARIANT
#define OUT_TEXT BSTR*
#define OUT_NUMBER int*
#define OUT_LIST VARIANT*
#define CHECK_METHOD(order, index, name, params)                                                   \
    EXPECT_EQ(slotOf(&ISigningComponent::name), kSigningFirstSlot - 1 + order) << #name;           \
    EXPECT_STREQ(signingMemberName(order), #name);
#define CHECK_PROPERTY(getOrder, putOrder, name, ...)                                              \
    EXPECT_EQ(slotOf(&ISigningComponent::get_##name), kSigningFirstSlot - 1 + getOrder);           \
    EXPECT_EQ(slotOf(&ISigningComponent::put_##name), kSigningFirstSlot - 1 + putOrder);           \
    EXPECT_STREQ(signingMemberName(getOrder), "get_" #name);
    VELANTO_SIGNING_MEMBERS(CHECK_METHOD, CHECK_PROPERTY)
#undef CHECK_PROPERTY
#undef CHECK_METHOD
#undef OUT_LIST
#undef OUT_NUMBER
#undef OUT_TEXT
#undef V
#undef I
#undef T
    EXPECT_EQ(slotOf(&ISigningComponent::QvCAPISign), 7);
    EXPECT_EQ(slotOf(&ISigningComponent::put_SubjectAltName), 122);
    EXPECT_EQ(signingMemberName(0), nullptr);
    EXPECT_EQ(signingMemberName(117), nullptr);
}

TEST(ComRuntime, CreationFailuresAreHresults) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_SigningComponent, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();

    auto create = [](const GUID& clsid, const GUID& iid) {
        void* created = nullptr;
        HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, &created);
        if (created) static_cast<IUnknown*>(created)->Release();
        return hr;
    };
    EXPECT_EQ(create(CLSID_SigningComponent, IID_IUnknown), REGDB_E_CLASSNOTREG);

    ASSERT_TRUE(registerInprocServer(CLSID_SigningComponent, "/opt/missing/Component.so"));
    EXPECT_EQ(create(CLSID_SigningComponent, IID_IUnknown), CO_E_DLLNOTFOUND);

    writeFile(rootDir() + "/opt/notalibrary.so", "plain text");
    ASSERT_TRUE(registerInprocServer(CLSID_SigningComponent, "/opt/notalibrary.so"));
    EXPECT_EQ(create(CLSID_SigningComponent, IID_IUnknown), CO_E_DLLNOTFOUND);

    installServer(CLSID_SigningComponent, libDir() + "/VelantoNoExport.so", "/opt/noexport.so");
    EXPECT_EQ(create(CLSID_SigningComponent, IID_IUnknown), CO_E_ERRORINDLL);

    // A server that is no signing component: creation works, the interface is refused.
    installServer(CLSID_SigningComponent, libDir() + "/VelantoForeignServer.so", "/opt/foreign.so");
    EXPECT_EQ(create(CLSID_SigningComponent, IID_IUnknown), S_OK);
    EXPECT_EQ(create(CLSID_SigningComponent, IID_ISigningComponent), E_NOINTERFACE);

    // The reference server serves only its own class.
    installServer(kTestComponentClsid, libDir() + "/KestovaSigningComponent.so", "/opt/ref.so");
    EXPECT_EQ(create(kTestComponentClsid, IID_IUnknown), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(CoCreateInstance(CLSID_SigningComponent, nullptr, CLSCTX_ALL, IID_IUnknown, nullptr),
              E_POINTER);
    EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
    CoUninitialize();

    try {
        throwIfFailed(E_POINTER);
        FAIL() << "no exception";
    } catch (const ComError& error) {
        EXPECT_EQ(error.Error(), E_POINTER);
        EXPECT_STREQ(error.what(), "COM error 0x80004003");
    }
    EXPECT_NO_THROW(throwIfFailed(S_FALSE));
}

TEST(ComRuntime, TestComponentRecordsCallsInVtableOrder) {
    installServer(kTestComponentClsid, libDir() + "/VelantoTestComponent.so",
                  "/opt/test/TestComponent.so");
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ISigningComponent* c = nullptr;
    ASSERT_EQ(CoCreateInstance(kTestComponentClsid, nullptr, CLSCTX_ALL, IID_ISigningComponent,
                               reinterpret_cast<void**>(&c)),
              S_OK);
    void* library = platform::loadLibrary(rootDir() + "/opt/test/TestComponent.so");
    auto stateOf = reinterpret_cast<TestComponentStateFunction>(
        platform::findSymbol(library, "VelantoTestComponentState"));
    ASSERT_NE(stateOf, nullptr);
    TestComponentState& state = *stateOf();
    state.answers[SigningOrder::QvCAPIVerify].kind = ScriptedAnswer::Kind::Failure;
    state.answers[SigningOrder::QvCAPIVerify].hr = E_ACCESSDENIED_FOR_TEST;

    BSTR out = nullptr;
    Bstr data("data \xe2\x82\xac"), subject("CN=x");
    EXPECT_EQ(c->QvCAPISign(data, subject, 3, -1, &out), S_OK);
    EXPECT_EQ(text(out), "QvCAPISign:ok");
    int number = 0;
    EXPECT_EQ(c->QvCAPIVerify(data, nullptr, subject, 0, 0, 0, &number), E_ACCESSDENIED_FOR_TEST);
    VARIANT title = textVariant("CERTIFICATE");
    EXPECT_EQ(c->QvXCAPIEncode(data, title, &out), S_OK);
    SysFreeString(out);
    VariantClear(&title);
    EXPECT_EQ(c->put_KeySpec(2), S_OK);

    ASSERT_EQ(state.calls.size(), 4u);
    EXPECT_EQ(state.calls[0].member, "QvCAPISign");
    EXPECT_EQ(state.calls[0].arguments,
              (std::vector<std::string>{"T:data \xe2\x82\xac", "T:CN=x", "I:3", "I:-1"}));
    EXPECT_EQ(state.calls[1].arguments[1], "T:<null>");
    EXPECT_EQ(state.calls[2].arguments[1], "V:8:CERTIFICATE");
    EXPECT_EQ(state.calls[3].member, "put_KeySpec");
    EXPECT_EQ(state.calls[3].order, 71);
    EXPECT_EQ(state.liveObjects, 1);
    c->Release();
    EXPECT_EQ(state.liveObjects, 0);
    CoUninitialize();
}

TEST_F(ReferenceComponentTest, PropertiesVersionAndErrorCode) {
    BSTR out = nullptr;
    EXPECT_EQ(c->Qv_GETVersion(0, &out), S_OK);
    EXPECT_EQ(text(out), "1.0.0.1");
    EXPECT_EQ(c->get_HashAlgorithm(&out), S_OK);
    EXPECT_EQ(out, nullptr);
    Bstr sha("SHA256");
    EXPECT_EQ(c->put_HashAlgorithm(sha), S_OK);
    EXPECT_EQ(c->get_HashAlgorithm(&out), S_OK);
    EXPECT_EQ(text(out), "SHA256");
    Bstr name("Kestova CSP \xe5\x8f\xb0");
    EXPECT_EQ(c->put_providerName(name), S_OK);
    EXPECT_EQ(c->get_providerName(&out), S_OK);
    EXPECT_EQ(text(out), "Kestova CSP \xe5\x8f\xb0");
    int value = 0;
    EXPECT_EQ(c->put_providerType(24), S_OK);
    EXPECT_EQ(c->get_providerType(&value), S_OK);
    EXPECT_EQ(value, 24);
    EXPECT_EQ(c->put_WriteCertToCSP(1), S_OK);
    EXPECT_EQ(c->get_WriteCertToCSP(&value), S_OK);
    EXPECT_EQ(value, 1);

    EXPECT_EQ(errorCode(), 0);
    Bstr data("x");
    EXPECT_EQ(c->QvCAPISign(data, data, 0, 0, &out), E_NOTIMPL);
    EXPECT_EQ(errorCode(), 5001);

    // Through the raw vtable slot, as a caller compiled elsewhere would.
    using GetVersion = HRESULT (*)(ISigningComponent*, int, BSTR*);
    void** vtable = *reinterpret_cast<void***>(c);
    auto getVersion =
        reinterpret_cast<GetVersion>(vtable[kSigningFirstSlot - 1 + SigningOrder::Qv_GETVersion]);
    EXPECT_EQ(getVersion(c, 0, &out), S_OK);
    EXPECT_EQ(text(out), "1.0.0.1");
}

TEST_F(ReferenceComponentTest, Base64AndPem) {
    BSTR out = nullptr;
    Bstr data("Kestova \xe5\x8f\xb0");
    VARIANT noTitle;
    VariantInit(&noTitle);
    EXPECT_EQ(c->QvXCAPIEncode(data, noTitle, &out), S_OK);
    EXPECT_EQ(text(out), "S2VzdG92YSDlj7A=");

    const std::string long64(100, 'k');
    Bstr longData(long64.c_str());
    VARIANT title = textVariant("DATA BLOCK");
    EXPECT_EQ(c->QvXCAPIEncode(longData, title, &out), S_OK);
    const std::string pem = text(out);
    EXPECT_EQ(pem.rfind("-----BEGIN DATA BLOCK-----\n", 0), 0u);
    EXPECT_NE(pem.find("\n-----END DATA BLOCK-----\n"), std::string::npos);
    EXPECT_EQ(lines(pem)[1].size(), 64u);

    Bstr pemText(pem.c_str());
    EXPECT_EQ(c->QvXCAPIDecode(pemText, title, &out), S_OK);
    EXPECT_EQ(text(out), long64);
    EXPECT_EQ(c->QvXCAPIDecode(pemText, noTitle, &out), S_OK); // any title when none asked
    EXPECT_EQ(text(out), long64);
    VARIANT otherTitle = textVariant("CERTIFICATE");
    EXPECT_EQ(c->QvXCAPIDecode(pemText, otherTitle, &out), S_OK);
    EXPECT_EQ(text(out), "<null>");
    EXPECT_EQ(errorCode(), 5004);
    Bstr notBase64("not base64!");
    EXPECT_EQ(c->QvXCAPIDecode(notBase64, noTitle, &out), S_OK);
    EXPECT_EQ(text(out), "<null>");
    Bstr plain("S2VzdG92YSDlj7A=");
    EXPECT_EQ(c->QvXCAPIDecode(plain, noTitle, &out), S_OK);
    EXPECT_EQ(text(out), "Kestova \xe5\x8f\xb0");
    EXPECT_EQ(errorCode(), 0);
    VariantClear(&title);
    VariantClear(&otherTitle);
}

TEST_F(ReferenceComponentTest, CertificateReaders) {
    const std::string pem = fixture("signer.pem");
    std::string der64;
    for (const auto& line : lines(pem))
        if (line.find("-----") == std::string::npos) der64 += line;
    for (const std::string& form : {pem, der64}) {
        Bstr cert(form.c_str());
        BSTR out = nullptr;
        struct Case {
            HRESULT (ISigningComponent::*member)(BSTR, int, BSTR*);
            int flags;
            std::string expected;
        } cases[] = {
            {&ISigningComponent::QvCAPICertGetSubject, 0, "CN=Velanto Test Signer,O=Kestova,C=TW"},
            {&ISigningComponent::QvCAPICertGetIssuer, 0, "CN=Velanto Test Signer,O=Kestova,C=TW"},
            {&ISigningComponent::QvXCAPICertGetSerialNumber, 0, "0A1B2C3D"},
            {&ISigningComponent::QvCAPICertGetNotBefore, 0, "2026/12/11 11:39:47"},
            {&ISigningComponent::QvCAPICertGetNotAfter, 0, "2036/12/08 11:39:47"},
            {&ISigningComponent::QvCAPICertGetDigest, 0,
             "85DDEE2577FF915710A320F499E22634E37285ED178397AA26C084A1F1BB3A1D"},
            {&ISigningComponent::QvCAPICertGetDigest, 1,
             "49026507A7788942EDA401717CB11BAE388582CD"},
            {&ISigningComponent::QvCAPICertGetPublicKey, 0,
             "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEg+8LRtV4RdJhQVPSBTjU98wPa/GxvLLCEgMqGRQtQtr/"
             "TK0C2FLnigs3sex5Nsj/sYioWrGtDpJ7ROnk6e162A=="},
        };
        for (const auto& k : cases) {
            EXPECT_EQ((c->*k.member)(cert, k.flags, &out), S_OK);
            EXPECT_EQ(text(out), k.expected);
        }
    }
    BSTR out = nullptr;
    Bstr garbage("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");
    EXPECT_EQ(c->QvCAPICertGetSubject(garbage, 0, &out), S_OK);
    EXPECT_EQ(text(out), "<null>");
    EXPECT_EQ(errorCode(), 5002);
    EXPECT_EQ(c->QvCAPICertGetSubject(nullptr, 0, &out), S_OK);
    EXPECT_EQ(text(out), "<null>");
}

TEST_F(ReferenceComponentTest, CertificateStoreListsSubjects) {
    std::string data;
    ASSERT_TRUE(platform::userDataDir(data));
    const std::string store = data + "/KestovaSigningComponent/certs";
    fs::create_directories(store);
    writeFile(store + "/a.pem", fixture("signer.pem"));
    writeFile(store + "/b.crt", fixture("holder.pem"));
    writeFile(store + "/junk.txt", "not a certificate");

    auto list = [&](const char* filter) {
        VARIANT result;
        VariantInit(&result);
        Bstr subject(filter);
        EXPECT_EQ(c->QvXCAPIGetCertsEx(nullptr, subject, 0, 0, 0, &result), S_OK);
        EXPECT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
        std::vector<std::string> subjects;
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(result.parray, 1, &lower);
        SafeArrayGetUBound(result.parray, 1, &upper);
        for (LONG i = lower; i <= upper; ++i) {
            VARIANT item;
            SafeArrayGetElement(result.parray, &i, &item);
            subjects.push_back(utf8FromBstr(item.bstrVal));
            VariantClear(&item);
        }
        VariantClear(&result);
        return subjects;
    };
    EXPECT_EQ(list(""), (std::vector<std::string>{"CN=Velanto Test Signer,O=Kestova,C=TW",
                                                  "CN=Second Holder,O=Kestova,C=TW"}));
    EXPECT_EQ(list("second"), (std::vector<std::string>{"CN=Second Holder,O=Kestova,C=TW"}));
    EXPECT_TRUE(list("nobody").empty());
}

TEST_F(ReferenceComponentTest, FoldersAndFiles) {
    BSTR out = nullptr;
    EXPECT_EQ(c->QvGetTempPath(&out), S_OK);
    EXPECT_EQ(text(out), tmpDir() + "/");
    EXPECT_EQ(c->QvGetMyDocumentsPath(&out), S_OK);
    EXPECT_EQ(text(out), homeDir() + "/Documents");

    const std::string path = sandboxDir() + "/blob.bin";
    const std::string bytes("\x00\x01\xfe\r\n\xff", 6);
    writeFile(path, bytes);
    Bstr file(path.c_str());
    EXPECT_EQ(c->QvCAPI_ReadFile(file, 0, &out), S_OK);
    const std::string encoded = text(out);
    EXPECT_EQ(encoded, "AAH+DQr/");

    const std::string copyPath = sandboxDir() + "/copy.bin";
    Bstr copy(copyPath.c_str()), data(encoded.c_str());
    int result = -1;
    EXPECT_EQ(c->QvCAPI_WriteFile(data, copy, 0, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(copyPath), bytes);

    Bstr bad("%%%"), missing((sandboxDir() + "/no/such/dir/f").c_str());
    EXPECT_EQ(c->QvCAPI_WriteFile(bad, copy, 0, &result), S_OK);
    EXPECT_EQ(result, 5004);
    EXPECT_EQ(c->QvCAPI_WriteFile(data, missing, 0, &result), S_OK);
    EXPECT_EQ(result, 5003);
    EXPECT_EQ(c->QvCAPI_ReadFile(missing, 0, &out), S_OK);
    EXPECT_EQ(text(out), "<null>");
    EXPECT_EQ(errorCode(), 5003);
}

// Run by install_test.sh against a real installed layout.
TEST(Installed, ComponentCreatesFromItsInstalledRegistration) {
    const char* installed = std::getenv("VELANTO_INSTALLED_ROOT");
    if (!installed) GTEST_SKIP() << "runs from install_test.sh";
    setenv("VELANTO_ROOT", installed, 1);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ISigningComponent* c = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_SigningComponent, nullptr, CLSCTX_ALL, IID_ISigningComponent,
                               reinterpret_cast<void**>(&c)),
              S_OK);
    BSTR out = nullptr;
    EXPECT_EQ(c->Qv_GETVersion(0, &out), S_OK);
    EXPECT_EQ(text(out), "1.0.0.1");
    c->Release();
    CoUninitialize();
}

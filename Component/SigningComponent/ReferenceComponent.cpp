// The reference signing component: an in-process server of ISigningComponent. It serves
// the properties, its version and error code, Base64/PEM coding, certificate reading (on
// GnuTLS) and small file tasks; every other member answers E_NOTIMPL.
#include "Component/SigningComponentBase.h"

#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <gnutls/abstract.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const char kComponentVersion[] = "1.0.0.1";

// The component's own error codes, read by a page through GetErrorCode.
enum ComponentError : int {
    kOk = 0,
    kNotAvailable = 5001,
    kBadCertificate = 5002,
    kFileError = 5003,
    kBadEncoding = 5004,
    kMissingArgument = 5005,
    kOutOfMemory = 5006,
};

std::string utf8(BSTR text) {
    return utf8FromBstr(text);
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string withoutBlanks(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out += c;
    return out;
}

std::string base64(const std::string& bytes) {
    char* encoded =
        base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    std::string out = encoded ? encoded : "";
    std::free(encoded);
    return out;
}

// Strict Base64: blanks ignored, anything else outside the alphabet refused.
bool unbase64(const std::string& text, std::string& bytes) {
    const std::string compact = withoutBlanks(text);
    size_t end = compact.size();
    while (end > 0 && compact[end - 1] == '=')
        --end;
    if (compact.size() % 4 == 1 || compact.size() - end > 2) return false;
    for (size_t i = 0; i < end; ++i) {
        const char c = compact[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') return false;
    }
    size_t length = 0;
    unsigned char* decoded = decodeEscapedBase64(compact.c_str(), &length);
    if (!decoded) return false;
    bytes.assign(reinterpret_cast<char*>(decoded), length);
    std::free(decoded);
    return true;
}

std::string hex(const unsigned char* bytes, size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0xF];
    }
    return out;
}

// "YYYY/MM/DD HH:MM:SS" in UTC, from days since the epoch by the civil calendar.
std::string utcText(std::time_t seconds) {
    long long days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) rest += 86400, --days;
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    const long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yearOfEra + era * 400 + (month <= 2);
    char text[96];
    std::snprintf(text, sizeof(text), "%04lld/%02lld/%02lld %02lld:%02lld:%02lld", year, month, day,
                  rest / 3600, rest / 60 % 60, rest % 60);
    return text;
}

class Certificate {
  public:
    Certificate() { gnutls_x509_crt_init(&crt_); }
    ~Certificate() {
        if (crt_) gnutls_x509_crt_deinit(crt_);
    }
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;

    // PEM, or Base64 of DER.
    bool load(const std::string& text) {
        if (!crt_) return false;
        if (text.find("-----BEGIN") != std::string::npos) {
            gnutls_datum_t pem = {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
                                  static_cast<unsigned>(text.size())};
            return gnutls_x509_crt_import(crt_, &pem, GNUTLS_X509_FMT_PEM) == 0;
        }
        std::string der;
        if (!unbase64(text, der) || der.empty()) return false;
        gnutls_datum_t datum = {reinterpret_cast<unsigned char*>(&der[0]),
                                static_cast<unsigned>(der.size())};
        return gnutls_x509_crt_import(crt_, &datum, GNUTLS_X509_FMT_DER) == 0;
    }
    gnutls_x509_crt_t get() const { return crt_; }

  private:
    gnutls_x509_crt_t crt_ = nullptr;
};

std::string takeDatum(gnutls_datum_t& datum) {
    std::string out(reinterpret_cast<char*>(datum.data), datum.size);
    gnutls_free(datum.data);
    return out;
}

// The certificate folder of the user's store.
std::string storeFolder() {
    std::string data;
    if (!platform::userDataDir(data)) return std::string();
    return data + "/KestovaSigningComponent/certs";
}

// The properties' storage and accessors come from the member table.
#define VELANTO_FIELD_TEXT BSTR
#define VELANTO_FIELD_INT int
#define VELANTO_NO_METHOD(...)

class ReferenceComponent final : public SigningComponentBase<ReferenceComponent> {
  public:
    ~ReferenceComponent() {
#define VELANTO_RELEASE(getOrder, putOrder, name, ...) release(property_##name);
        VELANTO_SIGNING_MEMBERS(VELANTO_NO_METHOD, VELANTO_RELEASE)
#undef VELANTO_RELEASE
    }

    // Every member without an overload below.
    template <int Order, class... A>
    HRESULT invoke(SigningMember<Order>, A...) {
        error_ = kNotAvailable;
        return E_NOTIMPL;
    }

    // ---- Properties: each stores what its put accessor was given ----
#define VELANTO_ACCESSORS(getOrder, putOrder, name, kind, ...)                                     \
    HRESULT invoke(SigningMember<getOrder>, VELANTO_FIELD_##kind* value) {                         \
        return get(property_##name, value);                                                        \
    }                                                                                              \
    HRESULT invoke(SigningMember<putOrder>, VELANTO_FIELD_##kind value) {                          \
        return put(property_##name, value);                                                        \
    }
    VELANTO_SIGNING_MEMBERS(VELANTO_NO_METHOD, VELANTO_ACCESSORS)
#undef VELANTO_ACCESSORS

    // ---- Version and error ----
    HRESULT invoke(SigningMember<SigningOrder::GetErrorCode>, int* result) {
        if (!result) return E_POINTER;
        *result = error_;
        return S_OK;
    }
    HRESULT invoke(SigningMember<SigningOrder::Qv_GETVersion>, int, BSTR* result) {
        return answer(result, kComponentVersion);
    }

    // ---- Base64 and PEM ----
    HRESULT invoke(SigningMember<SigningOrder::QvXCAPIEncode>, BSTR data, VARIANT title,
                   BSTR* result) {
        const std::string encoded = base64(utf8(data));
        const std::string pemTitle = titleOf(title);
        if (pemTitle.empty()) return answer(result, encoded);
        std::string pem = "-----BEGIN " + pemTitle + "-----\n";
        for (size_t at = 0; at < encoded.size(); at += 64)
            pem += encoded.substr(at, 64) + "\n";
        pem += "-----END " + pemTitle + "-----\n";
        return answer(result, pem);
    }
    HRESULT invoke(SigningMember<SigningOrder::QvXCAPIDecode>, BSTR encoded, VARIANT title,
                   BSTR* result) {
        std::string text = utf8(encoded);
        const std::string pemTitle = titleOf(title);
        const size_t begin = text.find("-----BEGIN ");
        if (begin != std::string::npos) {
            const size_t labelEnd = text.find("-----", begin + 11);
            const size_t bodyStart = labelEnd == std::string::npos ? labelEnd : labelEnd + 5;
            const std::string label =
                labelEnd == std::string::npos ? "" : text.substr(begin + 11, labelEnd - begin - 11);
            const size_t end = text.find("-----END " + label + "-----", bodyStart);
            if (bodyStart == std::string::npos || end == std::string::npos ||
                (!pemTitle.empty() && label != pemTitle))
                return fail(result, kBadEncoding);
            text = text.substr(bodyStart, end - bodyStart);
        }
        std::string bytes;
        if (!unbase64(text, bytes)) return fail(result, kBadEncoding);
        return answer(result, bytes);
    }

    // ---- Certificates ----
    HRESULT invoke(SigningMember<SigningOrder::QvCAPICertGetSubject>, BSTR cert, int,
                   BSTR* result) {
        return withCertificate(cert, result, [](gnutls_x509_crt_t crt, std::string& out) {
            gnutls_datum_t dn = {nullptr, 0};
            if (gnutls_x509_crt_get_dn3(crt, &dn, 0) != 0) return false;
            out = takeDatum(dn);
            return true;
        });
    }
    HRESULT invoke(SigningMember<SigningOrder::QvCAPICertGetIssuer>, BSTR cert, int, BSTR* result) {
        return withCertificate(cert, result, [](gnutls_x509_crt_t crt, std::string& out) {
            gnutls_datum_t dn = {nullptr, 0};
            if (gnutls_x509_crt_get_issuer_dn3(crt, &dn, 0) != 0) return false;
            out = takeDatum(dn);
            return true;
        });
    }
    HRESULT invoke(SigningMember<SigningOrder::QvCAPICertGetNotBefore>, BSTR cert, int,
                   BSTR* result) {
        return withCertificate(cert, result, [](gnutls_x509_crt_t crt, std::string& out) {
            std::time_t at = gnutls_x509_crt_get_activation_time(crt);
            if (at == static_cast<std::time_t>(-1)) return false;
            out = utcText(at);
            return true;
        });
    }
    HRESULT invoke(SigningMember<SigningOrder::QvCAPICertGetNotAfter>, BSTR cert, int,
                   BSTR* result) {
        return withCertificate(cert, result, [](gnutls_x509_crt_t crt, std::string& out) {
            std::time_t at = gnutls_x509_crt_get_expiration_time(crt);
            if (at == static_cast<std::time_t>(-1)) return false;
            out = utcText(at);
            return true;
        });
    }
    HRESULT invoke(SigningMember<SigningOrder::QvXCAPICertGetSerialNumber>, BSTR cert, int,
                   BSTR* result) {
        return withCertificate(cert, result, [](gnutls_x509_crt_t crt, std::string& out) {
            unsigned char serial[64];
            size_t size = sizeof(serial);
            if (gnutls_x509_crt_get_serial(crt, serial, &size) != 0) return false;
            out = hex(serial, size);
            return true;
        });
    }
    // iFlags 1 asks for SHA-1; anything else SHA-256.
    HRESULT invoke(SigningMember<SigningOrder::QvCAPICertGetDigest>, BSTR cert, int flags,
                   BSTR* result) {
        return withCertificate(cert, result, [flags](gnutls_x509_crt_t crt, std::string& out) {
            unsigned char digest[64];
            size_t size = sizeof(digest);
            const auto algorithm = flags == 1 ? GNUTLS_DIG_SHA1 : GNUTLS_DIG_SHA256;
            if (gnutls_x509_crt_get_fingerprint(crt, algorithm, digest, &size) != 0) return false;
            out = hex(digest, size);
            return true;
        });
    }
    // Base64 of the DER SubjectPublicKeyInfo.
    HRESULT invoke(SigningMember<SigningOrder::QvCAPICertGetPublicKey>, BSTR cert, int,
                   BSTR* result) {
        return withCertificate(cert, result, [](gnutls_x509_crt_t crt, std::string& out) {
            gnutls_pubkey_t key = nullptr;
            if (gnutls_pubkey_init(&key) != 0) return false;
            gnutls_datum_t der = {nullptr, 0};
            bool ok = gnutls_pubkey_import_x509(key, crt, 0) == 0 &&
                      gnutls_pubkey_export2(key, GNUTLS_X509_FMT_DER, &der) == 0;
            if (ok) out = base64(takeDatum(der));
            gnutls_pubkey_deinit(key);
            return ok;
        });
    }
    // The subjects of the certificates in the user's store, filtered by a part of the
    // subject when one is given (ignoring case).
    HRESULT invoke(SigningMember<SigningOrder::QvXCAPIGetCertsEx>, BSTR, BSTR subject, int, int,
                   int, VARIANT* result) {
        if (!result) return E_POINTER;
        std::vector<std::string> subjects;
        std::vector<std::string> names;
        const std::string folder = storeFolder();
        const std::string wanted = lowerAscii(utf8(subject));
        if (!folder.empty() && platform::listDirectory(folder, names)) {
            std::sort(names.begin(), names.end());
            for (const auto& name : names) {
                std::string text;
                Certificate certificate;
                if (!platform::readBinaryFile(folder + "/" + name, text) || !certificate.load(text))
                    continue;
                gnutls_datum_t dn = {nullptr, 0};
                if (gnutls_x509_crt_get_dn3(certificate.get(), &dn, 0) != 0) continue;
                std::string dnText = takeDatum(dn);
                if (wanted.empty() || lowerAscii(dnText).find(wanted) != std::string::npos)
                    subjects.push_back(dnText);
            }
        }
        SAFEARRAY* list = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(subjects.size()));
        if (!list) return outOfMemory();
        for (size_t i = 0; i < subjects.size(); ++i) {
            VARIANT item;
            VariantInit(&item);
            item.vt = VT_BSTR;
            item.bstrVal = bstrFromUtf8(subjects[i].c_str());
            LONG index = static_cast<LONG>(i);
            HRESULT hr = SafeArrayPutElement(list, &index, &item);
            VariantClear(&item);
            if (FAILED(hr)) {
                SafeArrayDestroy(list);
                return outOfMemory();
            }
        }
        VariantInit(result);
        result->vt = VT_ARRAY | VT_VARIANT;
        result->parray = list;
        error_ = kOk;
        return S_OK;
    }

    // ---- Folders and files ----
    HRESULT invoke(SigningMember<SigningOrder::QvGetTempPath>, BSTR* result) {
        std::string dir;
        if (!platform::userTempDir(dir)) return fail(result, kFileError);
        return answer(result, dir);
    }
    HRESULT invoke(SigningMember<SigningOrder::QvGetMyDocumentsPath>, BSTR* result) {
        std::string dir;
        if (!platform::documentsDir(dir)) return fail(result, kFileError);
        return answer(result, dir);
    }
    HRESULT invoke(SigningMember<SigningOrder::QvCAPI_ReadFile>, BSTR path, int, BSTR* result) {
        const std::string file = utf8(path);
        std::string bytes;
        if (file.empty()) return fail(result, kMissingArgument);
        if (!platform::readBinaryFile(file, bytes)) return fail(result, kFileError);
        return answer(result, base64(bytes));
    }
    // Answers 0 when written, else the error code (also kept for GetErrorCode).
    HRESULT invoke(SigningMember<SigningOrder::QvCAPI_WriteFile>, BSTR data, BSTR path, int,
                   int* result) {
        if (!result) return E_POINTER;
        const std::string file = utf8(path);
        std::string bytes;
        if (file.empty())
            error_ = kMissingArgument;
        else if (!unbase64(utf8(data), bytes))
            error_ = kBadEncoding;
        else
            error_ = platform::writeBinaryFile(file, bytes) ? kOk : kFileError;
        *result = error_;
        return S_OK;
    }

  private:
    static std::string titleOf(const VARIANT& title) {
        return title.vt == VT_BSTR ? utf8(title.bstrVal) : std::string();
    }

    HRESULT outOfMemory() {
        error_ = kOutOfMemory;
        return E_OUTOFMEMORY;
    }

    HRESULT answer(BSTR* result, const std::string& text) {
        if (!result) return E_POINTER;
        *result = bstrFromUtf8(text.c_str());
        if (!*result) return outOfMemory();
        error_ = kOk;
        return S_OK;
    }

    // A data error answers an empty text; the page reads the reason through GetErrorCode.
    HRESULT fail(BSTR* result, ComponentError error) {
        if (!result) return E_POINTER;
        *result = nullptr;
        error_ = error;
        return S_OK;
    }

    template <class Read>
    HRESULT withCertificate(BSTR cert, BSTR* result, Read read) {
        if (!result) return E_POINTER;
        Certificate certificate;
        std::string text;
        if (!certificate.load(utf8(cert)) || !read(certificate.get(), text))
            return fail(result, kBadCertificate);
        return answer(result, text);
    }

    static HRESULT get(BSTR value, BSTR* out) {
        if (!out) return E_POINTER;
        *out = value ? SysAllocStringLen(value, SysStringLen(value)) : nullptr;
        return value && !*out ? E_OUTOFMEMORY : S_OK;
    }
    static HRESULT put(BSTR& field, BSTR value) {
        BSTR copy = value ? SysAllocStringLen(value, SysStringLen(value)) : nullptr;
        if (value && !copy) return E_OUTOFMEMORY;
        SysFreeString(field);
        field = copy;
        return S_OK;
    }
    static HRESULT get(int value, int* out) {
        if (!out) return E_POINTER;
        *out = value;
        return S_OK;
    }
    static HRESULT put(int& field, int value) {
        field = value;
        return S_OK;
    }

    static void release(BSTR& value) {
        SysFreeString(value);
    }
    static void release(int&) {}

    int error_ = kOk;
#define VELANTO_FIELD(getOrder, putOrder, name, kind, ...) VELANTO_FIELD_##kind property_##name{};
    VELANTO_SIGNING_MEMBERS(VELANTO_NO_METHOD, VELANTO_FIELD)
#undef VELANTO_FIELD
#undef VELANTO_NO_METHOD
#undef VELANTO_FIELD_INT
#undef VELANTO_FIELD_TEXT
};

} // namespace

VELANTO_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    return serveClassObject<ReferenceComponent>(CLSID_SigningComponent, clsid, riid, object);
}

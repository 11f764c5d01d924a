// The service's certificates and its protected key store.
#include "Sandbox.h"
#include "Velanto/Key.h"

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

using namespace testsupport;

namespace {

gnutls_datum_t datum(const char* text) {
    return {reinterpret_cast<unsigned char*>(const_cast<char*>(text)),
            static_cast<unsigned>(std::strlen(text))};
}

} // namespace

TEST(KeyStore, KeysMatchTheirCertificatesAndChainToTheRoots) {
    for (bool rsa : {false, true}) {
        char* key = obtainServerKey(rsa);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(std::string(key).find("-----BEGIN"), 0u);
        gnutls_certificate_credentials_t credentials;
        gnutls_certificate_allocate_credentials(&credentials);
        gnutls_datum_t cert = datum(serverCertificate(rsa)), pem = datum(key);
        // Refused when the key does not belong to the certificate.
        EXPECT_EQ(
            gnutls_certificate_set_x509_key_mem(credentials, &cert, &pem, GNUTLS_X509_FMT_PEM), 0)
            << (rsa ? "RSA" : "ECC");
        gnutls_certificate_free_credentials(credentials);
        releaseServerKey(&key);
        EXPECT_EQ(key, nullptr);

        gnutls_x509_crt_t server, root;
        gnutls_x509_crt_init(&server);
        gnutls_x509_crt_init(&root);
        gnutls_datum_t rootPem = datum(rootCertificate(rsa));
        ASSERT_EQ(gnutls_x509_crt_import(server, &cert, GNUTLS_X509_FMT_PEM), 0);
        ASSERT_EQ(gnutls_x509_crt_import(root, &rootPem, GNUTLS_X509_FMT_PEM), 0);
        unsigned status = 0;
        EXPECT_EQ(
            gnutls_x509_crt_verify(server, &root, 1, GNUTLS_VERIFY_ALLOW_SIGN_WITH_SHA1, &status),
            0);
        EXPECT_EQ(status, 0u);
        EXPECT_TRUE(gnutls_x509_crt_check_hostname(server, "localhost"));
        EXPECT_TRUE(gnutls_x509_crt_check_ip(
            server, reinterpret_cast<const unsigned char*>("\x7f\0\0\x01"), 4, 0));
        gnutls_x509_crt_deinit(server);
        gnutls_x509_crt_deinit(root);
    }
    char* none = nullptr;
    releaseServerKey(&none);
    releaseServerKey(nullptr);
}

TEST(KeyStore, NoPlainKeyTextInTheLibrary) {
    const std::string library =
        readFile(std::filesystem::path(binDir()).parent_path().string() + "/lib/libVelantoKey.a");
    ASSERT_FALSE(library.empty());
    EXPECT_EQ(library.find("PRIVATE KEY"), std::string::npos);
    EXPECT_NE(library.find("BEGIN CERTIFICATE"), std::string::npos);
}

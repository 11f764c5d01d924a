// The HTTPS front end over real TLS: a daemon started as the service starts its daemons,
// with the service's own certificate, and curl as an independent client.
#include "LogCapture.h"
#include "Sandbox.h"
#include "SessionSandbox.h"
#include "Velanto/FrontEnd.h"
#include "Velanto/Key.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Tool.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unistd.h>

using namespace testsupport;

namespace {

const char kPriority[] = "NORMAL:!VERS-TLS-ALL:!SHA1:+VERS-TLS1.2:+VERS-TLS1.3";

struct Reply {
    int exitCode = -1;
    std::string headers;
    std::string body;
    bool has(const std::string& header) const { return headers.find(header) != std::string::npos; }
};

class FrontEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(sandboxDir() + "/root.pem", rootCertificate(false));
        key = obtainServerKey(false);
        ASSERT_NE(key, nullptr);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        setFrontEndProcessId(getpid());
        daemon = MHD_start_daemon(
            MHD_USE_ERROR_LOG | MHD_USE_TLS | MHD_USE_INTERNAL_POLLING_THREAD, 0,
            acceptLoopbackOnly, nullptr, handleRequest, nullptr, MHD_OPTION_EXTERNAL_LOGGER,
            forwardDaemonLog, nullptr, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_HTTPS_MEM_CERT,
            serverCertificate(false), MHD_OPTION_HTTPS_MEM_KEY, key, MHD_OPTION_HTTPS_PRIORITIES,
            kPriority, MHD_OPTION_NOTIFY_COMPLETED, requestCompleted, nullptr, MHD_OPTION_END);
        ASSERT_NE(daemon, nullptr);
        port = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
    }
    void TearDown() override {
        if (daemon) MHD_stop_daemon(daemon);
        releaseServerKey(&key);
    }

    // One curl request; extra options as shell words.
    Reply curl(const std::string& options, const std::string& url = "") {
        const std::string target =
            url.empty() ? "https://localhost:" + std::to_string(port) + "/" : url;
        const std::string headers = sandboxDir() + "/headers", body = sandboxDir() + "/body";
        std::remove(headers.c_str());
        std::remove(body.c_str());
        Reply reply;
        reply.exitCode = hideWaitCommand(wide("curl -s --max-time 10 --cacert " + sandboxDir() +
                                              "/root.pem -D " + headers + " -o " + body + " " +
                                              options + " '" + target + "'")
                                             .c_str(),
                                         true);
        reply.headers = readFile(headers);
        reply.body = readFile(body);
        return reply;
    }

    // A call as a page posts it: the JSON text in Base64, "+" "/" "=" escaped for the form.
    static std::string field(const std::string& json, const char* plus = "%2B") {
        char* encoded = base64Encode(json.c_str());
        std::string text = encoded;
        std::free(encoded);
        std::string escaped;
        for (char c : text)
            escaped += c == '+'   ? std::string(plus)
                       : c == '/' ? "%2F"
                       : c == '=' ? "%3D"
                                  : std::string(1, c);
        return escaped;
    }
    Reply post(const std::string& json,
               const std::string& extra = "-H 'Origin: https://shop.example.org'") {
        return curl("-X POST " + extra + " --data 'Parameter=" + field(json) + "'");
    }

    static std::map<std::string, std::string> decode(const std::string& body) {
        std::map<std::string, std::string> out;
        JsonMap* map = parseJsonMap(body.c_str());
        for (int i = 0; map && i < map->count; ++i) {
            unsigned char* value = decodeEscapedBase64(map->entries[i].value, nullptr);
            out[map->entries[i].key] = reinterpret_cast<char*>(value);
            std::free(value);
        }
        freeJsonMap(map);
        return out;
    }

    LogCapture log;
    SessionSandbox sessions;
    MHD_Daemon* daemon = nullptr;
    char* key = nullptr;
    unsigned port = 0;
};

const std::string kEcho =
    R"({"FunctionName":"VelantoEcho","PathID":"5D1F3B7E9A2C4E6F8B0D2F4A6C8E0B1D","minServerVersion":"1.0.23.0510"})";

} // namespace

TEST_F(FrontEndTest, PreflightAndRefusals) {
    Reply preflight = curl("-X OPTIONS -H 'Origin: https://shop.example.org' -H "
                           "'Access-Control-Request-Method: POST' -H "
                           "'Access-Control-Request-Private-Network: true'");
    EXPECT_EQ(preflight.exitCode, 0);
    EXPECT_TRUE(preflight.has("HTTP/1.1 204")) << preflight.headers;
    EXPECT_TRUE(preflight.has("Access-Control-Allow-Origin: https://shop.example.org\r\n"));
    EXPECT_TRUE(preflight.has("Access-Control-Allow-Methods: POST\r\n"));
    EXPECT_TRUE(preflight.has("Access-Control-Allow-Private-Network: true\r\n"));
    EXPECT_TRUE(preflight.has("Access-Control-Max-Age: 30\r\n"));
    EXPECT_FALSE(preflight.has("Keep-Alive:"));
    Reply noOrigin =
        curl("-X OPTIONS -H 'Access-Control-Request-Method: POST' -H "
             "'Access-Control-Request-Private-Network: true' -H 'Connection: keep-alive'");
    EXPECT_FALSE(noOrigin.has("Access-Control-Allow-Origin"));
    EXPECT_TRUE(noOrigin.has("Keep-Alive: timeout=15, max=100\r\n"));

    // Refused without an answer: curl sees the connection close (exit 52).
    EXPECT_EQ(curl("-X OPTIONS -H 'Access-Control-Request-Method: POST'").exitCode, 52);
    EXPECT_EQ(curl("").exitCode, 52); // GET
    EXPECT_EQ(curl("-X POST -H 'Content-Type: application/json' --data '{}'").exitCode, 52);
    EXPECT_EQ(curl("-X POST -H 'Content-Type: multipart/form-data; boundary=' --data 'x'").exitCode,
              52);
    EXPECT_TRUE(log.contains("[T][Error] Request method error: GET\n"));
    // Old TLS versions cannot even connect.
    EXPECT_NE(curl("--tlsv1.0 --tls-max 1.1").exitCode, 0);
}

TEST_F(FrontEndTest, CallsReachTheDispatcher) {
    Reply echo = post(kEcho);
    ASSERT_EQ(echo.exitCode, 0);
    EXPECT_TRUE(echo.has("HTTP/1.1 200")) << echo.headers;
    EXPECT_TRUE(echo.has("Access-Control-Allow-Origin: https://shop.example.org\r\n"));
    EXPECT_TRUE(echo.has("X-XSS-Protection: 1; mode=block\r\n"));
    auto answer = decode(echo.body);
    EXPECT_EQ(answer["result"], "0");
    EXPECT_EQ(answer["ServerVersion"], "1.0.23.0510");
    ASSERT_EQ(answer["SessionID"].size(), 12u);
    EXPECT_TRUE(log.contains("[T][Normal] TLS version: TLS 1.3\n"));

    // The next call on that session reaches the adapter and the component; the "+" of the
    // Base64 text may come escaped once or twice.
    const std::string call = R"({"SessionId":")" + answer["SessionID"] +
                             R"(","FunctionName":"Qv_GETVersion","flag":"0","pad":">>>")";
    auto version = decode(post(call + "}").body);
    EXPECT_EQ(version["result"], "1.0.0.1");
    const std::string twice = field(call + "}", "%252B");
    ASSERT_NE(twice.find("%252B"), std::string::npos);
    Reply escapedTwice =
        curl("-X POST -H 'Origin: https://shop.example.org' --data 'Parameter=" + twice + "'");
    EXPECT_EQ(decode(escapedTwice.body)["result"], "1.0.0.1");
}

TEST_F(FrontEndTest, HostAndOriginChecks) {
    const std::string portText = std::to_string(port);
    EXPECT_EQ(
        decode(post(kEcho, "-H 'Origin: https://a.test' -H 'Host: localhost'").body)["result"],
        "61904");
    EXPECT_EQ(decode(post(kEcho, "-H 'Origin: https://a.test' -H 'Host: [::1]:" + portText + "'")
                         .body)["result"],
              "61904");
    EXPECT_EQ(
        decode(post(kEcho, "-H 'Origin: https://a.test' -H 'Host: example.com:" + portText + "'")
                   .body)["result"],
        "61904");
    EXPECT_EQ(
        decode(post(kEcho, "-H 'Origin: https://a.test' -H 'Host: 127.0.0.1:" + portText + "'")
                   .body)["result"],
        "0");

    Reply none = post(kEcho, "");
    EXPECT_EQ(decode(none.body), (std::map<std::string, std::string>{{"result", "61012"}}));
    EXPECT_FALSE(none.has("Access-Control-Allow-Origin"));
    EXPECT_EQ(decode(post(kEcho, "-H 'Origin: null' -H 'Referer: nopath'").body)["result"],
              "61012");
    Reply fromReferer =
        post(kEcho, "-H 'Origin: null' -H 'Referer: https://shop.example.org:8443/page/x.html'");
    EXPECT_EQ(decode(fromReferer.body)["result"], "0");
    EXPECT_TRUE(fromReferer.has("Access-Control-Allow-Origin: https://shop.example.org:8443\r\n"));
    EXPECT_TRUE(log.contains("[T][Normal] New Origin: https://shop.example.org:8443\n"));
}

TEST_F(FrontEndTest, MalformedBodiesEndWithoutAnAnswer) {
    EXPECT_EQ(curl("-X POST -H 'Origin: https://a.test' --data 'Parameter=%%%'").exitCode, 52);
    EXPECT_EQ(curl("-X POST -H 'Origin: https://a.test' --data 'Other=eyJ9'").exitCode, 52);
    // A raw "=" stops the form decoder; two "Parameter" fields are not merged into one call.
    char* encoded = base64Encode(kEcho.c_str());
    const std::string raw = encoded;
    std::free(encoded);
    EXPECT_EQ(curl("-X POST -H 'Origin: https://a.test' --data 'Parameter=" + raw + "'").exitCode,
              52);
    const std::string escaped = field(kEcho);
    EXPECT_EQ(curl("-X POST -H 'Origin: https://a.test' --data 'Parameter=" + escaped.substr(0, 8) +
                   "&Parameter=" + escaped.substr(8) + "'")
                  .exitCode,
              52);
    // The daemon still answers afterwards.
    EXPECT_EQ(decode(post(kEcho).body)["result"], "0");
}

TEST_F(FrontEndTest, OnlyTheLoopbackAddressIsAccepted) {
    // A peer of 127.0.0.2 reaching the 127.0.0.1 listener.
    Reply other = curl("--interface 127.0.0.2", "");
    EXPECT_NE(other.exitCode, 0);
    EXPECT_TRUE(log.contains("[T][Warning] Illegal connection ip: "));
}

#include "Velanto/FrontEnd.h"

#include "VelantoSession/VelantoSession.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/ZmLog.h"

#include <gnutls/gnutls.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>

namespace {

constexpr std::size_t kPostBuffer = 8192;
constexpr std::size_t kMaxBoundary = (kPostBuffer - 2) / 2;

struct RequestContext {
    int kind = 0; // 1 form POST, 2 any other method
    MHD_PostProcessor* postProcessor = nullptr;
    std::string body; // the "Parameter" field, kept with its own request
    int parameterFields = 0;
};

int processId = 0;
// The dispatcher, the session table and the value store take no lock of their own: one
// request at a time is processed, whichever daemon thread it arrived on.
std::mutex processing;

const MHD_ValueKind kEveryKind =
    static_cast<MHD_ValueKind>(MHD_HEADER_KIND | MHD_COOKIE_KIND | MHD_GET_ARGUMENT_KIND |
                               MHD_POSTDATA_KIND | MHD_FOOTER_KIND);

const char* header(MHD_Connection* connection, const char* name) {
    return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

const char* anyValue(MHD_Connection* connection, const char* name) {
    return MHD_lookup_connection_value(connection, kEveryKind, name);
}

bool startsWithIgnoringCase(const char* text, const char* prefix) {
    return text && strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// multipart/form-data needs a boundary of 1 to 4095 characters (quotes removed).
bool acceptedFormType(const char* type) {
    if (startsWithIgnoringCase(type, "application/x-www-form-urlencoded")) return true;
    if (!startsWithIgnoringCase(type, "multipart/form-data")) return false;
    const char* at = std::strstr(type, "boundary=");
    if (!at) return false;
    std::string boundary = at + 9;
    const std::size_t end = boundary.find(';');
    if (end != std::string::npos) boundary.resize(end);
    if (boundary.size() >= 2 && boundary.front() == '"' && boundary.back() == '"')
        boundary = boundary.substr(1, boundary.size() - 2);
    return !boundary.empty() && boundary.size() <= kMaxBoundary;
}

JsonMap* resultOnly(JsonMap* answer, int code) {
    if (!answer) answer = newJsonMap();
    if (answer) setJsonMapResult(answer, code);
    return answer;
}

MHD_Result sendAnswer(MHD_Connection* connection, bool preflight, JsonMap*& answer,
                      const std::string& answerOrigin) {
    MHD_Response* response = nullptr;
    std::string origin = answerOrigin;
    if (preflight) {
        response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        const char* requested = anyValue(connection, "origin");
        origin = requested ? requested : "";
    } else {
        if (!answer) return MHD_NO;
        char* text = jsonMapToText(answer);
        freeJsonMap(answer);
        answer = nullptr;
        if (!text) {
            REPORT_ALLOC_FAIL();
            return MHD_NO;
        }
        response = MHD_create_response_from_buffer(std::strlen(text), text, MHD_RESPMEM_MUST_COPY);
        freeZeroed(text);
    }
    if (!response) return MHD_NO;
    if (origin.rfind("http", 0) == 0)
        MHD_add_response_header(response, "Access-Control-Allow-Origin", origin.c_str());
    const char* connectionHeader = header(connection, "Connection");
    if (connectionHeader && strcasecmp(connectionHeader, "keep-alive") == 0)
        MHD_add_response_header(response, "Keep-Alive", "timeout=15, max=100");
    unsigned status = MHD_HTTP_OK;
    if (preflight) {
        MHD_add_response_header(response, "Access-Control-Allow-Methods", "POST");
        MHD_add_response_header(response, "Access-Control-Allow-Private-Network", "true");
        MHD_add_response_header(response, "Access-Control-Max-Age", "30");
        status = MHD_HTTP_NO_CONTENT;
    } else {
        MHD_add_response_header(response, "X-XSS-Protection", "1; mode=block");
    }
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// Steps 1 to 12 of an uploaded POST.
MHD_Result processPost(MHD_Connection* connection, RequestContext* request) {
    std::lock_guard<std::mutex> guard(processing);
    logNormal("", "Release Mode");
    JsonMap* answer = nullptr;
    JsonMap* call = nullptr;
    std::string origin;
    auto finish = [&](MHD_Result result) {
        freeJsonMap(call);
        secureZero(&request->body[0], request->body.size());
        request->body.clear();
        if (isLogEnabled()) ZmLogPrint(5, nullptr, "%s", std::string(79, '=').c_str());
        return result;
    };

    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_PROTOCOL);
    if (!info) {
        logWarning("", "Get connection information error");
        answer = resultOnly(answer, kResultNoConnectionInfo);
        return finish(sendAnswer(connection, false, answer, origin));
    }
    switch (static_cast<int>(info->protocol)) {
    case GNUTLS_TLS1_0:
    case GNUTLS_TLS1_1:
        logWarning("Insecure connection: ",
                   info->protocol == GNUTLS_TLS1_0 ? "TLS 1.0" : "TLS 1.1");
        return finish(MHD_NO);
    case GNUTLS_TLS1_2:
        logNormal("TLS version: ", "TLS 1.2");
        break;
    case GNUTLS_TLS1_3:
        logNormal("TLS version: ", "TLS 1.3");
        break;
    case GNUTLS_DTLS0_9:
        logNormal("TLS version: ", "DTLS 0.9");
        break;
    case GNUTLS_DTLS1_0:
        logNormal("TLS version: ", "DTLS 1.0");
        break;
    case GNUTLS_DTLS1_2:
        logNormal("TLS version: ", "DTLS 1.2");
        break;
    default:
        logWarning("Insecure connection: ", "Unknow connection protocol");
        logWarningInt("", static_cast<int>(info->protocol));
        return finish(MHD_NO);
    }

    const char* hostValue = anyValue(connection, "host");
    const std::string host = std::string(hostValue ? hostValue : "").substr(0, 63);
    logNormal("Host: ", host.c_str());
    if (host.rfind("localhost:", 0) != 0 && host.rfind("127.0.0.1:", 0) != 0) {
        logWarning("", "This connection is NOT from localhost");
        answer = resultOnly(answer, kResultNotLocalHost);
        return finish(sendAnswer(connection, false, answer, origin));
    }

    // A second "Parameter" field is not merged into the first: the call is refused.
    if (request->parameterFields > 1) return finish(MHD_NO);
    std::size_t length = 0;
    unsigned char* decoded = decodeEscapedBase64(request->body.c_str(), &length);
    if (!decoded || length == 0) {
        std::free(decoded);
        REPORT_ALLOC_FAIL();
        return finish(MHD_NO);
    }
    call = parseJsonMap(reinterpret_cast<char*>(decoded));
    secureZero(decoded, length);
    std::free(decoded);
    if (!call) {
        REPORT_ALLOC_FAIL();
        return finish(MHD_NO);
    }

    const char* refererValue = anyValue(connection, "referer");
    const char* originValue = anyValue(connection, "origin");
    logNormal("Referer: ", refererValue);
    origin = originValue ? originValue : "";
    logNormal("Origin: ", origin.c_str());
    if (origin.empty() || origin == "null") {
        logWarning("Empty origin: ", origin.c_str());
        logWarning("Extract origin from referer: ", "Start");
        const std::string referer = refererValue ? refererValue : "";
        if (referer.empty() || referer == "null") {
            logWarning("Empty Referer: ", refererValue);
            logWarning("Extract origin from referer: ", "Fail");
            answer = resultOnly(answer, kResultNoOrigin);
            origin.clear();
            return finish(sendAnswer(connection, false, answer, origin));
        }
        char** pieces = splitString(referer.c_str(), "/");
        int count = 0;
        for (; pieces && pieces[count]; ++count) {
            const std::string key = "UrlList[" + std::to_string(count) + "]: ";
            logNormal(key.c_str(), pieces[count]);
        }
        if (count >= 3) {
            origin = std::string(pieces[0]) + "/" + pieces[1] + "/" + pieces[2];
            logNormal("New Origin: ", origin.c_str());
        }
        freeStringArray(pieces);
        if (count < 3) {
            logWarning("", "UrlList error: ");
            logWarning("Extract origin from referer: ", "Fail");
            answer = resultOnly(answer, kResultNoOrigin);
            origin.clear();
            return finish(sendAnswer(connection, false, answer, origin));
        }
    }
    answer = dispatchRequest(call, origin.c_str(), processId);
    return finish(sendAnswer(connection, false, answer, origin));
}

} // namespace

void setFrontEndProcessId(int id) {
    processId = id;
}

MHD_Result handleRequest(void*, MHD_Connection* connection, const char*, const char* method,
                         const char*, const char* uploadData, std::size_t* uploadDataSize,
                         void** context) {
    auto* request = static_cast<RequestContext*>(*context);
    const bool post = std::strcmp(method, "POST") == 0;
    if (!request) {
        request = new (std::nothrow) RequestContext();
        if (!request) return MHD_NO;
        if (post) {
            if (!acceptedFormType(header(connection, "Content-Type"))) {
                delete request;
                return MHD_NO;
            }
            request->postProcessor =
                MHD_create_post_processor(connection, kPostBuffer, collectParameter, request);
            if (!request->postProcessor) {
                delete request;
                return MHD_NO;
            }
            request->kind = 1;
        } else {
            request->kind = 2;
        }
        *context = request;
        return MHD_YES;
    }
    if (post && request->kind == 1) {
        if (*uploadDataSize != 0) {
            // A malformed body stops the post processor; the call then has no "Parameter"
            // and ends without an answer.
            MHD_post_process(request->postProcessor, uploadData, *uploadDataSize);
            *uploadDataSize = 0;
            return MHD_YES;
        }
        // The upload is complete: ending the post processor hands over the last value, which
        // a URL-encoded body only completes at its end.
        if (request->postProcessor) MHD_destroy_post_processor(request->postProcessor);
        request->postProcessor = nullptr;
        return processPost(connection, request);
    }
    if (std::strcmp(method, "OPTIONS") == 0) {
        const char* requestMethod = header(connection, "Access-Control-Request-Method");
        const char* privateNetwork = header(connection, "Access-Control-Request-Private-Network");
        if (requestMethod && std::strcmp(requestMethod, "POST") == 0 && privateNetwork &&
            std::strcmp(privateNetwork, "true") == 0) {
            JsonMap* none = nullptr;
            return sendAnswer(connection, true, none, std::string());
        }
    }
    logError("Request method error: ", method);
    return MHD_NO;
}

MHD_Result collectParameter(void* cls, MHD_ValueKind, const char* key, const char*, const char*,
                            const char*, const char* data, std::uint64_t offset, std::size_t size) {
    if (!key) return MHD_YES;
    auto* request = static_cast<RequestContext*>(cls);
    if (std::strcmp(key, "Parameter") == 0 && request) {
        if (offset == 0) ++request->parameterFields;
        if (data) request->body.append(data, strnlen(data, size));
    }
    return MHD_YES;
}

void requestCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    auto* request = static_cast<RequestContext*>(*context);
    if (!request) return;
    if (request->kind == 1 && request->postProcessor)
        MHD_destroy_post_processor(request->postProcessor);
    secureZero(&request->body[0], request->body.size());
    delete request;
    *context = nullptr;
}

MHD_Result acceptLoopbackOnly(void*, const sockaddr* address, socklen_t length) {
    if (address && address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        if (ntohl(ipv4->sin_addr.s_addr) == INADDR_LOOPBACK) return MHD_YES;
    }
    std::string text;
    if (address) {
        const auto* bytes = reinterpret_cast<const signed char*>(address->sa_data);
        for (int i = 0; i < 14; ++i)
            text += (i ? "." : "") + std::to_string(bytes[i]);
    }
    logWarning("Illegal connection ip: ", text.c_str());
    return MHD_NO;
}

void forwardDaemonLog(void*, const char* format, va_list arguments) {
    if (ZmLogConfiguredLevel() < 5) return;
    ZmLogAcquire();
    ZmLogWrite(5, format, arguments);
    ZmLogRelease();
}

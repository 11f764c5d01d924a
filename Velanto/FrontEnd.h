// The HTTPS front end: the callbacks every daemon of the service runs. It answers the
// private-network preflight and the form POST whose field "Parameter" carries the call as
// escaped Base64 of a JSON object; everything else is refused by closing the connection.
#pragma once

#include <microhttpd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

constexpr int kResultNoConnectionInfo = 61001;
constexpr int kResultNotLocalHost = 61904;
constexpr int kResultNoOrigin = 61012;

// The process id handed to the dispatcher with every call.
void setFrontEndProcessId(int processId);

MHD_Result handleRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char* version, const char* uploadData, std::size_t* uploadDataSize,
                         void** context);
MHD_Result collectParameter(void* cls, MHD_ValueKind kind, const char* key, const char* filename,
                            const char* contentType, const char* transferEncoding, const char* data,
                            std::uint64_t offset, std::size_t size);
void requestCompleted(void* cls, MHD_Connection* connection, void** context,
                      MHD_RequestTerminationCode code);
MHD_Result acceptLoopbackOnly(void* cls, const sockaddr* address, socklen_t length);
void forwardDaemonLog(void* cls, const char* format, va_list arguments);

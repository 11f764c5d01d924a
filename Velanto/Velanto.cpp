// KestovaQvCAPIVelanto: the signing service. Start-up in its fixed order, one HTTPS daemon
// per free port and loopback family, then idling until the final handler sets the quit flag.
#include "Velanto/FrontEnd.h"
#include "Velanto/Key.h"
#include "Velanto/Zm/Forensic.h"
#include "VelantoSession/VelantoSession.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Message.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/ZmLog.h"
#include "VelantoUtil/platform/Platform.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <strings.h>
#include <thread>
#include <vector>

#ifndef VELANTO_GIT_TIME
#define VELANTO_GIT_TIME "unknown"
#endif

namespace {

const char kApplication[] = "KestovaQvCAPIVelanto";
const char kPortList[] = "port=56435 56535 56635";
const char kDebugEvent[] = "KestovaQvCAPIVelanto_DEBUG_MODE";
// SHA-1 is kept out of the handshake's signatures too, and static-RSA key exchange with it;
// "!SHA1" alone only removes the SHA-1 MAC suites.
const char kPriority[] = "NORMAL:!VERS-TLS-ALL:!SHA1:+VERS-TLS1.2:+VERS-TLS1.3"
                         ":-SIGN-RSA-SHA1:-SIGN-ECDSA-SHA1:-RSA";
constexpr unsigned kFlagsIpv4 = 0x0B; // error log | TLS | internal polling thread
constexpr unsigned kFlagsIpv6 = 0x1B; // the same, IPv6

std::atomic<unsigned char> quitFlag{0};
std::atomic<unsigned char> logToggle{0};
std::string copyPath;

void separator() {
    if (isLogEnabled()) ZmLogPrint(5, nullptr, "%s", std::string(79, '=').c_str());
}

void VelantoFinal() {
    logNormal("[VelantoFinal] ", "Start release all adapters");
    releaseAllSessions();
    // The adapter copies left in the copy path, hidden ones too.
    std::vector<std::string> names;
    if (platform::listDirectory(copyPath, names)) {
        const std::string suffix = platform::librarySuffix();
        for (const auto& name : names)
            if (name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                platform::deleteFile(copyPath + platform::pathSeparator() + name);
    }
    logNormal("[VelantoFinal] ", "Release adapters success");
    logNormal("[VelantoFinal] ", "Ready to suicide");
    quitFlag.store(1);
}

bool isPortInUse(int port, bool ipv6) {
    char needle[32];
    std::snprintf(needle, sizeof(needle), ipv6 ? "[::1]:%d" : "127.0.0.1:%d", port);
    std::string listing;
    if (!platform::listTcpSockets(ipv6, listing) || listing.empty()) return false;
    char** lines = splitString(listing.c_str(), "\n");
    if (!lines) {
        REPORT_ALLOC_FAIL();
        return false;
    }
    bool inUse = false;
    for (char** line = lines; *line && !inUse; ++line) {
        char words[5][64] = {};
        const int count = std::sscanf(*line, "%63s %63s %63s %63s %63s", words[0], words[1],
                                      words[2], words[3], words[4]);
        if (count != 4) continue;
        const bool state =
            strcasecmp(words[3], "LISTENING") == 0 || strcasecmp(words[3], "ESTABLISHED") == 0;
        inUse = state && (strcasecmp(words[1], needle) == 0 || strcasecmp(words[2], needle) == 0);
    }
    freeStringArray(lines);
    return inUse;
}

MHD_Daemon* launchDaemon(unsigned flags, const sockaddr* address, const char* certificate,
                         const char* key, const char* priority) {
    int port = 0;
    if (address->sa_family == AF_INET) {
        port = ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
    } else if (address->sa_family == AF_INET6) {
        port = ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
    } else {
        logErrorInt("Unknow address family: ", address->sa_family);
        return nullptr;
    }
    const bool ipv6 = address->sa_family == AF_INET6;
    const std::string note = "Detect port " + std::to_string(port) + " state: ";
    if (isPortInUse(port, ipv6)) {
        logNormal(note.c_str(), "In use, try next port");
        return nullptr;
    }
    logNormal(note.c_str(), "Free");
    // The external logger comes first, so the library logs nothing of its own before it.
    MHD_Daemon* daemon =
        ipv6 ? MHD_start_daemon(flags, 0, nullptr, nullptr, handleRequest, nullptr,
                                MHD_OPTION_EXTERNAL_LOGGER, forwardDaemonLog, nullptr,
                                MHD_OPTION_SOCK_ADDR, address, MHD_OPTION_HTTPS_MEM_CERT,
                                certificate, MHD_OPTION_HTTPS_MEM_KEY, key,
                                MHD_OPTION_HTTPS_PRIORITIES, priority, MHD_OPTION_NOTIFY_COMPLETED,
                                requestCompleted, nullptr, MHD_OPTION_END)
             : MHD_start_daemon(flags, 0, acceptLoopbackOnly, nullptr, handleRequest, nullptr,
                                MHD_OPTION_EXTERNAL_LOGGER, forwardDaemonLog, nullptr,
                                MHD_OPTION_SOCK_ADDR, address, MHD_OPTION_HTTPS_MEM_CERT,
                                certificate, MHD_OPTION_HTTPS_MEM_KEY, key,
                                MHD_OPTION_HTTPS_PRIORITIES, priority, MHD_OPTION_NOTIFY_COMPLETED,
                                requestCompleted, nullptr, MHD_OPTION_END);
    const std::string launch = std::string(kApplication) + " at " +
                               (ipv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port) +
                               " launch state: ";
    if (daemon)
        logNormal(launch.c_str(), "Success");
    else
        logWarning(launch.c_str(), "Fail");
    return daemon;
}

void debugStatusThread(platform::NamedEvent* event) {
    for (;;) {
        if (!platform::waitNamedEvent(event)) return;
        if (logToggle.load() == 0) {
            setLog(kApplication);
            logToggle.store(1);
        } else {
            logNormal("Log state: ", "Disable");
            stopLog();
            logToggle.store(0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

std::string narrow(wchar_t* wide) {
    char* text = wideToNarrow(wide);
    std::string out = text ? text : "";
    std::free(text);
    std::free(wide);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    using namespace Zm::OS::Win32;
    auto& crashes = Forensic::Detail::ExceptionHandler::instance();
    crashes.install(std::make_unique<Forensic::Detail::ExceptionHandler::UEF>());
    crashes.registerCallback(std::make_unique<Forensic::CrashDumpCallBack>(
                                 3, utf8ToWide(platform::driveTmpDir()), kApplication),
                             Forensic::Detail::ExceptionHandler::WithInfo);

    copyPath = narrow(getCopyPath(kApplication));
    if (copyPath.empty()) {
        logError("Extract copy path: ", "Fail");
        return 0;
    }
    logToggle.store(setLog(kApplication) ? 1 : 0);
    if (isLogEnabled())
        ZmLogPrint(5, nullptr, "%s",
                   (std::string(37, '*') + "Velanto" + std::string(33, '*')).c_str());
    logNormal("Execute setting: ", "KestovaQvCAPI");
    logNormal("Compile time: ", __DATE__ " " __TIME__);
    logNormal("Git time: ", VELANTO_GIT_TIME);
    if (argc > 1 && argv[1][0] != '\0' && std::strcmp(argv[1], "0") != 0) {
        separator();
        logWarning("Detected Velanto crash", "");
        separator();
    }
    const std::uint32_t descriptor = getOsDescriptor();
    if (descriptor != 0) {
        char* name = getOsName(descriptor);
        const std::string environment =
            std::string(name ? name : "") + " " + ((descriptor & 0x200000) ? "64 bit" : "32 bit");
        freeZeroed(name);
        logNormal("Environment: ", environment.substr(0, 511).c_str());
    }
    const int processId = platform::currentProcessId();
    setFrontEndProcessId(processId);
    finalFunction = VelantoFinal;
    const std::string executePath = narrow(getExeDirectory());
    if (executePath.empty()) {
        logError("Extract execute path: ", "Fail");
        return 0;
    }
    logNormal("CopyPath: ", copyPath.c_str());
    logNormal("Execute path: ", executePath.c_str());
    int ports[3] = {};
    std::sscanf(kPortList, "port=%d %d %d", &ports[0], &ports[1], &ports[2]);
    const std::string portText =
        std::to_string(ports[0]) + " " + std::to_string(ports[1]) + " " + std::to_string(ports[2]);
    logNormal("Support port: ", portText.c_str());
    startMessageReceiver("KestovaQvCAPIVelanto.exe");
    initSessionModule(copyPath.c_str(), executePath.c_str());
    logNormal("Velanto Version: ", kServerVersion);

    // The RSA certificate where the system is not recognised (always so here) or is XP.
    const bool rsa = descriptor == 0 || (descriptor & 0x1);
    char* certificate = dupString(serverCertificate(rsa));
    if (!certificate) {
        REPORT_ALLOC_FAIL();
        return 0;
    }
    char* key = obtainServerKey(rsa);
    if (!key) {
        REPORT_ALLOC_FAIL();
        std::free(certificate);
        return 0;
    }
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_addr = in6addr_loopback;
    MHD_Daemon* daemons4[3] = {};
    MHD_Daemon* daemons6[3] = {};
    int started = 0;
    for (int i = 0; i < 3; ++i) {
        ipv4.sin_port = htons(static_cast<std::uint16_t>(ports[i]));
        ipv6.sin6_port = htons(static_cast<std::uint16_t>(ports[i]));
        daemons4[i] = launchDaemon(kFlagsIpv4, reinterpret_cast<sockaddr*>(&ipv4), certificate, key,
                                   kPriority);
        daemons6[i] = launchDaemon(kFlagsIpv6, reinterpret_cast<sockaddr*>(&ipv6), certificate, key,
                                   kPriority);
        started += (daemons4[i] != nullptr) + (daemons6[i] != nullptr);
    }
    releaseServerKey(&key);
    std::free(certificate);
    logNormal("", "HTTPS Mode");
    if (started == 0) {
        logWarning("KestovaQvCAPIVelanto initialization: ", "Fail");
    } else {
        logNormal("KestovaQvCAPIVelanto initialization: ", "Success");
        logNormalInt("Started daemons: ", started);
        if (platform::NamedEvent* event = platform::openNamedEvent(kDebugEvent))
            std::thread(debugStatusThread, event).detach();
        else
            logErrorInt("Velanto debugStatusUpdateEvent init failed. ", 2);
        separator();
        while (!quitFlag.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (int i = 0; i < 3; ++i) {
        if (daemons4[i]) MHD_stop_daemon(daemons4[i]);
        if (daemons6[i]) MHD_stop_daemon(daemons6[i]);
    }
    return 0;
}

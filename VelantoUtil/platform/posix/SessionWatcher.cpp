// The desktop session's lock and activity, from logind on the system bus.
#include "VelantoUtil/platform/Platform.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

struct Watch {
    std::string channel;
};

void sendCode(const Watch* watch, int code) {
    sendChannelFrame(watch->channel, kChannelSessionChange,
                     std::string(reinterpret_cast<const char*>(&code), sizeof(code)));
}

int onLock(sd_bus_message*, void* data, sd_bus_error*) {
    sendCode(static_cast<Watch*>(data), 7);
    return 0;
}

int onUnlock(sd_bus_message*, void* data, sd_bus_error*) {
    sendCode(static_cast<Watch*>(data), 8);
    return 0;
}

// PropertiesChanged(s interface, a{sv} changed, as invalidated): "Active" false is a
// disconnect (2), true a connect (1).
int onProperties(sd_bus_message* message, void* data, sd_bus_error*) {
    const char* interface = nullptr;
    if (sd_bus_message_read(message, "s", &interface) < 0) return 0;
    if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0) return 0;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* name = nullptr;
        if (sd_bus_message_read(message, "s", &name) < 0) return 0;
        if (name && std::strcmp(name, "Active") == 0) {
            int active = 0;
            if (sd_bus_message_read(message, "v", "b", &active) >= 0)
                sendCode(static_cast<Watch*>(data), active ? 1 : 2);
        } else if (sd_bus_message_skip(message, "v") < 0) {
            return 0;
        }
        sd_bus_message_exit_container(message);
    }
    return 0;
}

// The object path of this process's session.
bool sessionPath(sd_bus* bus, std::string& path) {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int rc = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager", "GetSessionByPID", &error, &reply,
                                "u", static_cast<unsigned>(getpid()));
    const char* object = nullptr;
    if (rc >= 0 && sd_bus_message_read(reply, "o", &object) >= 0 && object) path = object;
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return !path.empty();
}

} // namespace

bool startSessionWatcher(const std::string& channel) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return false;
    std::string path;
    auto* watch = new Watch{channel};
    const char* session = "org.freedesktop.login1.Session";
    if (!sessionPath(bus, path) ||
        sd_bus_match_signal(bus, nullptr, "org.freedesktop.login1", path.c_str(), session, "Lock",
                            onLock, watch) < 0 ||
        sd_bus_match_signal(bus, nullptr, "org.freedesktop.login1", path.c_str(), session, "Unlock",
                            onUnlock, watch) < 0 ||
        sd_bus_match_signal(bus, nullptr, "org.freedesktop.login1", path.c_str(),
                            "org.freedesktop.DBus.Properties", "PropertiesChanged", onProperties,
                            watch) < 0) {
        sd_bus_flush_close_unref(bus);
        delete watch;
        return false;
    }
    // Lives as long as the process, like the receiver threads it feeds.
    std::thread([bus] {
        for (;;) {
            int rc = sd_bus_process(bus, nullptr);
            if (rc < 0) break;
            if (rc == 0 && sd_bus_wait(bus, UINT64_MAX) < 0) break;
        }
    }).detach();
    return true;
}

} // namespace platform

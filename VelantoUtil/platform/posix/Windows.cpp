// Desktop windows on Linux, through X11. Without a display there are no windows.
#include "VelantoUtil/platform/Platform.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>

#include <cstring>
#include <mutex>

namespace platform {

namespace {

std::mutex& displayMutex() {
    static std::mutex mutex;
    return mutex;
}

// Windows may vanish between listing and asking; such errors are not fatal.
int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

Display* display() {
    static Display* connection = [] {
        XInitThreads();
        Display* opened = XOpenDisplay(nullptr);
        if (opened) XSetErrorHandler(ignoreErrors);
        return opened;
    }();
    return connection;
}

bool cardinalProperty(Display* d, Window w, const char* name, unsigned long& value) {
    Atom atom = XInternAtom(d, name, True);
    if (atom == None) return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(d, w, atom, 0, 1, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) == Success &&
        data && count == 1 && format == 32) {
        value = *reinterpret_cast<unsigned long*>(data);
        found = true;
    }
    if (data) XFree(data);
    return found;
}

bool hasProperty(Display* d, Window w, Atom atom) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = XGetWindowProperty(d, w, atom, 0, 0, False, AnyPropertyType, &type, &format,
                                    &count, &after, &data) == Success &&
                 type != None;
    if (data) XFree(data);
    return found;
}

int ownerOf(Display* d, Window w) {
    unsigned long pid = 0;
    if (cardinalProperty(d, w, "_NET_WM_PID", pid)) return static_cast<int>(pid);
    int event = 0, error = 0;
    if (!XResQueryExtension(d, &event, &error)) return 0;
    XResClientIdSpec spec;
    spec.client = w;
    spec.mask = XRES_CLIENT_ID_PID_MASK;
    long count = 0;
    XResClientIdValue* values = nullptr;
    int result = 0;
    if (XResQueryClientIds(d, 1, &spec, &count, &values) == Success) {
        for (long i = 0; i < count; ++i) {
            pid_t owner = XResGetClientPid(&values[i]);
            if (owner > 0) result = static_cast<int>(owner);
        }
        XResClientIdsDestroy(count, values);
    }
    return result;
}

// Under a window manager the application's window is the frame's child holding WM_STATE.
Window clientOf(Display* d, Window frame, Atom wmState, int depth) {
    if (wmState == None || hasProperty(d, frame, wmState)) return frame;
    if (depth == 0) return frame;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(d, frame, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            Window client = clientOf(d, children[i], wmState, depth - 1);
            if (client != children[i] || hasProperty(d, children[i], wmState)) found = client;
        }
        if (children) XFree(children);
    }
    return found ? found : frame;
}

bool windowManagerRuns(Display* d) {
    unsigned long check = 0;
    return cardinalProperty(d, DefaultRootWindow(d), "_NET_SUPPORTING_WM_CHECK", check);
}

} // namespace

bool enumerateTopLevelWindows(std::vector<TopLevelWindow>& out) {
    out.clear();
    std::lock_guard<std::mutex> guard(displayMutex());
    Display* d = display();
    if (!d) return false;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count)) return false;
    const Atom wmState = XInternAtom(d, "WM_STATE", True);
    for (unsigned i = 0; i < count; ++i) {
        TopLevelWindow window;
        window.handle = clientOf(d, children[i], wmState, 2);
        window.pid = ownerOf(d, static_cast<Window>(window.handle));
        out.push_back(window);
    }
    if (children) XFree(children);
    return true;
}

std::string windowTitle(WindowHandle window) {
    std::lock_guard<std::mutex> guard(displayMutex());
    Display* d = display();
    if (!d) return std::string();
    std::string title;
    Atom netName = XInternAtom(d, "_NET_WM_NAME", True);
    Atom utf8 = XInternAtom(d, "UTF8_STRING", True);
    if (netName != None && utf8 != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, static_cast<Window>(window), netName, 0, 512, False, utf8, &type,
                               &format, &count, &after, &data) == Success &&
            data && format == 8)
            title.assign(reinterpret_cast<char*>(data), count);
        if (data) XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(d, static_cast<Window>(window), &name) && name) title = name;
        if (name) XFree(name);
    }
    return title;
}

bool makeWindowTopmost(WindowHandle window) {
    std::lock_guard<std::mutex> guard(displayMutex());
    Display* d = display();
    if (!d) return false;
    const Window w = static_cast<Window>(window);
    if (windowManagerRuns(d)) {
        XEvent event;
        std::memset(&event, 0, sizeof(event));
        event.xclient.type = ClientMessage;
        event.xclient.window = w;
        event.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 1; // _NET_WM_STATE_ADD
        event.xclient.data.l[1] = static_cast<long>(XInternAtom(d, "_NET_WM_STATE_ABOVE", False));
        event.xclient.data.l[3] = 1;
        XSendEvent(d, DefaultRootWindow(d), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
    }
    XRaiseWindow(d, w);
    XSync(d, False);
    return true;
}

} // namespace platform

// Opens top-level X11 windows for the window-raising tests.
//   velanto_window_helper READYFILE HOLDMS PID LOWER COUNT TITLE
// Creates COUNT windows titled TITLE (TITLE_<n> when more than one) that claim the process
// PID, maps them, lowers them to the bottom when LOWER is 1, writes their ids to READYFILE,
// and keeps them HOLDMS milliseconds.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 7) return 64;
    const std::string ready = argv[1];
    const int hold = std::atoi(argv[2]);
    const unsigned long pid = std::strtoul(argv[3], nullptr, 10);
    const bool lower = std::atoi(argv[4]) == 1;
    const int count = std::atoi(argv[5]);
    const std::string title = argv[6];
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 2;
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    std::vector<Window> windows;
    for (int i = 0; i < count; ++i) {
        Window w = XCreateSimpleWindow(display, DefaultRootWindow(display), 10 + i, 10 + i, 200,
                                       100, 0, 0, 0xFFFFFF);
        const std::string name = count > 1 ? title + "_" + std::to_string(i) : title;
        XStoreName(display, w, name.c_str());
        XChangeProperty(display, w, pidAtom, XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&pid), 1);
        XMapWindow(display, w);
        windows.push_back(w);
    }
    XSync(display, False);
    for (Window w : windows)
        if (lower) XLowerWindow(display, w);
    XSync(display, False);
    {
        std::ofstream out(ready + ".part");
        for (Window w : windows)
            out << w << "\n";
    }
    std::rename((ready + ".part").c_str(), ready.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(hold));
    XCloseDisplay(display);
    return 0;
}

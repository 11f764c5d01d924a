// velanto-dispatch: runs JSON calls, one per line of standard input, through the service's
// dispatcher and prints each answer's JSON text on a line of its own.
//
//   velanto-dispatch [--origin URL] [--execute-path DIR] [--copy-path DIR]
//
// The origin defaults to https://localhost; adapters are looked for under the execute path
// (default: this program's folder) and copied under the copy path (default: the common
// application data folder + KestovaQvCAPIVelanto). Sessions last until the input ends.
#include "VelantoSession/VelantoSession.h"
#include "VelantoUtil/Json.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    std::string origin = "https://localhost";
    std::string executePath, copyPath;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 < argc && option == "--origin") {
            origin = argv[++i];
        } else if (i + 1 < argc && option == "--execute-path") {
            executePath = argv[++i];
        } else if (i + 1 < argc && option == "--copy-path") {
            copyPath = argv[++i];
        } else {
            std::fprintf(stderr, "usage: velanto-dispatch [--origin URL] [--execute-path DIR] "
                                 "[--copy-path DIR] < calls\n");
            return 64;
        }
    }
    if (executePath.empty()) {
        wchar_t* wide = getExeDirectory();
        char* dir = wideToNarrow(wide);
        executePath = dir ? dir : ".";
        std::free(dir);
        std::free(wide);
    }
    if (copyPath.empty()) {
        wchar_t* wide = getCopyPath("KestovaQvCAPIVelanto");
        char* narrow = wideToNarrow(wide);
        copyPath = narrow ? narrow : "";
        std::free(narrow);
        std::free(wide);
    }
    initSessionModule(copyPath.c_str(), executePath.c_str());

    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty()) continue;
        JsonMap* request = parseJsonMap(line.c_str());
        if (!request) {
            std::cout << "{\"result\": \""
                      << "NjEwMDE="
                      << "\"}" << std::endl; // 61001
            continue;
        }
        JsonMap* answer = dispatchRequest(request, origin.c_str(), platform::currentProcessId());
        char* text = answer ? jsonMapToText(answer) : nullptr;
        std::cout << (text ? text : "{}") << std::endl;
        std::free(text);
        freeJsonMap(answer);
        freeJsonMap(request);
    }
    releaseAllSessions();
    return 0;
}

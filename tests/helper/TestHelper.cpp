// A small program the tests start as a real second process.
//   exit CODE                          end with CODE
//   sleep MS                           sleep, then end with 0
//   touch FILE                         create FILE, end with 0
//   lock NAME TIMEOUT HOLD READYFILE   take the per-user mutex, write READYFILE, hold it
//                                      HOLD ms; end 0 when taken, 3 when not
//   log PREFIX COUNT                   switch logging on and write COUNT records
//   selfdelete                         schedule the deletion of this program file
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

static void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int main(int argc, char** argv) {
    if (argc < 2) return 64;
    std::string mode = argv[1];
    if (mode == "exit" && argc == 3) return std::atoi(argv[2]);
    if (mode == "sleep" && argc == 3) {
        sleepMs(std::atoi(argv[2]));
        return 0;
    }
    if (mode == "touch" && argc == 3) {
        std::ofstream(argv[2]) << "touched";
        return 0;
    }
    if (mode == "lock" && argc == 6) {
        UserMutex mutex = lockUserMutex(argv[2], static_cast<std::uint32_t>(std::atoi(argv[3])));
        std::ofstream(argv[5]) << (mutex ? "acquired" : "refused");
        if (!mutex) return 3;
        sleepMs(std::atoi(argv[4]));
        unlockUserMutex(mutex);
        return 0;
    }
    if (mode == "log" && argc == 4) {
        if (!setLog(argv[2])) return 4;
        const int count = std::atoi(argv[3]);
        for (int i = 0; i < count; ++i) {
            char value[96];
            std::snprintf(value, sizeof(value), "%s-%06d-%s", argv[2], i,
                          "abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz");
            logNormal("Record: ", value);
        }
        return 0;
    }
    if (mode == "selfdelete") {
        selfDelete();
        return 0;
    }
    return 64;
}

// A small program the tests start as a real second process.
//   exit CODE                          end with CODE
//   sleep MS                           sleep, then end with 0
//   touch FILE                         create FILE, end with 0
//   lock NAME TIMEOUT HOLD READYFILE   take the per-user mutex, write READYFILE, hold it
//                                      HOLD ms; end 0 when taken, 3 when not
//   log PREFIX COUNT                   switch logging on and write COUNT records
//   selfdelete                         schedule the deletion of this program file
//   send CHANNEL INSTRUCTION           send an instruction as the worker does
//   pulse EVENT                        pulse a named event
//   crash DUMPDIR PREFIX               install the crash handler with a dump callback, then
//                                      write through a null object's field
//   receive CHANNEL MARKER FINAL SLEEP run a message receiver on CHANNEL; handlers append
//                                      their name to MARKER; FINAL 1 registers a final
//                                      function (which ends it), SLEEP 1 a sleep-mode flag (its
//                                      changes are appended too); ends by itself after 30 s (exit
//                                      5)
#include "Velanto/Zm/Forensic.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Message.h"
#include "VelantoUtil/platform/Platform.h"
#include "VelantoUtil/Tool.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

static void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

static std::string markerPath;
static unsigned char sleeping = 0;

static void mark(const char* what) {
    std::ofstream(markerPath, std::ios::app) << what << "\n";
}
static void onStart() {
    mark("start");
}
static void onStop() {
    mark("stop");
}
static void onRestart() {
    mark("restart");
}
// Like the programs' own final functions, it ends the program.
static void onFinal() {
    mark("final");
    std::_Exit(0);
}

static int receive(const char* channel, const char* marker, bool final, bool sleepFlag) {
    markerPath = marker;
    setLog("Receiver");
    startFunction = onStart;
    stopFunction = onStop;
    restartFunction = onRestart;
    if (final) finalFunction = onFinal;
    if (sleepFlag) sleepModeFlag = &sleeping;
    startMessageReceiver(channel);
    mark("ready");
    unsigned char seen = 0;
    for (int i = 0; i < 3000; ++i) {
        if (sleepFlag && sleeping != seen) {
            seen = sleeping;
            mark(seen ? "sleep:1" : "sleep:0");
        }
        sleepMs(10);
    }
    return 5;
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
    if (mode == "receive" && argc == 6)
        return receive(argv[2], argv[3], std::atoi(argv[4]) == 1, std::atoi(argv[5]) == 1);
    if (mode == "send" && argc == 4) {
        setMessageSenderName("VelantoWorker");
        return sendInstruction(argv[2], argv[3]) ? 0 : 1;
    }
    if (mode == "pulse" && argc == 3) return platform::pulseNamedEvent(argv[2]) ? 0 : 1;
    if (mode == "crash" && argc == 4) {
        using namespace Zm::OS::Win32::Forensic;
        auto& handler = Detail::ExceptionHandler::instance();
        handler.install(std::make_unique<Detail::ExceptionHandler::UEF>());
        handler.registerCallback(
            std::make_unique<CrashDumpCallBack>(3, Zm::OS::Win32::utf8ToWide(argv[2]), argv[3]),
            Detail::ExceptionHandler::WithInfo);
        // A field of a null object: the same fault, out of the undefined-behaviour checker's
        // sight (it would stop the program before the fault).
        volatile std::uintptr_t address = 8;
        *reinterpret_cast<volatile int*>(address) = 1;
        return 0;
    }
    if (mode == "selfdelete") {
        selfDelete();
        return 0;
    }
    return 64;
}

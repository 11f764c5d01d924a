#include "VelantoUtil/Message.h"

#include "VelantoUtil/AES.h"
#include "VelantoUtil/Log.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

void (*startFunction)() = nullptr;
void (*stopFunction)() = nullptr;
void (*restartFunction)() = nullptr;
void (*finalFunction)() = nullptr;
unsigned char* sleepModeFlag = nullptr;
std::atomic<unsigned char> messageStopFlag{0};

namespace {

// The family's salt: 128 fixed bytes of which only the first 71 are hashed, since it is
// joined as a NUL-terminated text (the 72nd byte is zero).
constexpr unsigned char kMessageSalt[128] = {
    0x4B, 0x9E, 0x27, 0xD3, 0x61, 0xA8, 0x3C, 0xF5, 0x12, 0x8D, 0x76, 0xE9, 0x5A, 0x10, 0xB4, 0x39,
    0xC7, 0x6E, 0x21, 0x93, 0xFA, 0x58, 0x0F, 0xAE, 0x47, 0x7B, 0xE2, 0x15, 0x8C, 0x63, 0xD9, 0x3F,
    0xA1, 0x52, 0xC8, 0x1E, 0x97, 0x6A, 0xF0, 0x2D, 0xB9, 0x44, 0x7E, 0xE5, 0x18, 0x83, 0x5C, 0xCF,
    0x36, 0xAB, 0x71, 0x0E, 0x9D, 0x48, 0xF6, 0x23, 0xBE, 0x65, 0xD1, 0x8A, 0x57, 0x1C, 0xE8, 0x32,
    0xA5, 0x7F, 0xC4, 0x0B, 0x96, 0x4D, 0xEC, 0x00, 0x5F, 0xB2, 0x26, 0x8F, 0xD4, 0x69, 0x13, 0xAC,
    0x7D, 0xE1, 0x38, 0x9B, 0x54, 0xC6, 0x0A, 0xF3, 0x67, 0x2E, 0xB7, 0x41, 0x8E, 0xD8, 0x1B, 0x75,
    0xEA, 0x30, 0xA9, 0x5E, 0xC2, 0x17, 0x84, 0xF9, 0x4C, 0x92, 0x2B, 0xDE, 0x60, 0xB5, 0x0C, 0x79,
    0xE6, 0x3B, 0xA3, 0x58, 0xCD, 0x14, 0x87, 0xFB, 0x42, 0x9F, 0x2A, 0xD6, 0x6D, 0xB0,
};
static_assert(kMessageSalt[71] == 0, "only the first 71 bytes are hashed");

std::string senderName = "VelantoWorker";

char* copyOrEmpty(const char* text) {
    return dupString(text ? text : "");
}

std::string text(const char* value) {
    return value ? value : "";
}

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Splits the time value text at characters 3, 7 and 11.
void splitTimeValue(VelantoMessage* message, const std::string& value) {
    const std::size_t cuts[5] = {0, 3, 7, 11, 16};
    for (int i = 0; i < 4; ++i) {
        const std::size_t from = std::min(cuts[i], value.size());
        const std::size_t to = std::min(cuts[i + 1], value.size());
        message->TimeValue[i] = dupString(value.substr(from, to - from).c_str());
    }
}

std::string joinedTimeValue(const VelantoMessage* message) {
    std::string joined;
    for (const char* piece : message->TimeValue)
        joined += text(piece);
    return joined;
}

void call(void (*function)(), const char* executed, const char* missing, const char* key) {
    if (function) {
        logNormal(key, executed);
        function();
    } else {
        logNormal(key, missing);
    }
}

// Acts on one verified envelope received by the window half.
void actOnWindowMessage(VelantoMessage* message) {
    const std::string instruction = text(message->Instruction);
    logNormal("Receive COPYDATA message: ", instruction.c_str());
    if (instruction == kInstructionStart) {
        logNormal("Receive message: ", kInstructionStart);
        call(startFunction, "Execute start function", "No start function", "");
    } else if (instruction == kInstructionStop) {
        logNormal("Receive message: ", kInstructionStop);
        call(stopFunction, "Execute stop function", "No stop function", "");
    } else if (instruction == kInstructionRestart) {
        logNormal("Receive message: ", kInstructionRestart);
        call(restartFunction, "Execute restart function", "No restart function", "");
    } else if (instruction == kInstructionSuicide) {
        logNormal("Receive message: ", kInstructionSuicide);
        messageStopFlag.store(1);
        if (finalFunction) {
            logNormal("", "Execute final function");
            finalFunction();
        } else {
            logNormal("", "Execute exit");
            freeMessage(message);
            platform::exitProcess(0);
        }
    } else {
        logWarning("Receive UNKNOW instruction: ", instruction.c_str());
        logWarning("Receive UNKNOW message: ", message->Message);
    }
}

void sleepOrFinal(const char* line) {
    logNormal(line, nullptr);
    if (sleepModeFlag) {
        *sleepModeFlag = 1;
    } else if (finalFunction) {
        finalFunction();
    } else {
        platform::exitProcess(0);
    }
}

void actOnSessionChange(int code) {
    switch (code) {
    case 1:
    case 3:
    case 8:
        logNormal(code == 1   ? "Receive connect signal"
                  : code == 3 ? "Receive remote connect signal"
                              : "Receive windows unlock signal",
                  nullptr);
        if (sleepModeFlag) *sleepModeFlag = 0;
        break;
    case 2:
        sleepOrFinal("Receive disconnect signal");
        break;
    case 4:
        sleepOrFinal("Receive remote disconnect signal");
        break;
    case 7:
        sleepOrFinal("Receive windows lock signal");
        break;
    default:
        logNormalInt("Receive unknow system signal: ", code);
    }
}

void handleFrame(const platform::ChannelFrame& frame) {
    if (frame.kind == platform::kChannelSessionChange && frame.bytes.size() == sizeof(int)) {
        int code = 0;
        std::memcpy(&code, frame.bytes.data(), sizeof(code));
        actOnSessionChange(code);
        return;
    }
    if (frame.kind != platform::kChannelMessage) return;
    // The payload must end at its terminator; anything after it is not read.
    const std::string payload(frame.bytes.c_str());
    VelantoMessage* message = parseMessage(payload.c_str());
    if (!message || !verifyMessage(message)) {
        logWarning("[Warning] ", "Verify VelantoMessage fail");
        freeMessage(message);
        return;
    }
    actOnWindowMessage(message);
    freeMessage(message);
}

} // namespace

VelantoMessage* buildMessage(const char* from, const char* to, const char* instruction) {
    auto* message = static_cast<VelantoMessage*>(allocZeroed(sizeof(VelantoMessage)));
    if (!message) {
        REPORT_ALLOC_FAIL();
        return nullptr;
    }
    message->From = copyOrEmpty(from);
    message->To = copyOrEmpty(to);
    message->Instruction = copyOrEmpty(instruction);
    message->Message = copyOrEmpty("");
    char* timeValue = getTimeValueText();
    splitTimeValue(message, text(timeValue));
    std::free(timeValue);
    message->HashValue = computeMessageHash(message);
    return message;
}

VelantoMessage* parseMessage(const char* envelope) {
    if (!envelope) return nullptr;
    auto* message = static_cast<VelantoMessage*>(allocZeroed(sizeof(VelantoMessage)));
    if (!message) {
        REPORT_ALLOC_FAIL();
        return nullptr;
    }
    message->From = getJsonValue(envelope, "From");
    message->To = getJsonValue(envelope, "To");
    message->Instruction = getJsonValue(envelope, "Instruction");
    message->Message = getJsonValue(envelope, "Message");
    message->HashValue = getJsonValue(envelope, "HashValue");
    char* timeValue = getJsonValue(envelope, "TimeValue");
    // A time value longer than 16 digits cannot be one of ours.
    const bool complete = message->From && message->To && message->Instruction &&
                          message->Message && message->HashValue && timeValue &&
                          std::strlen(timeValue) <= 16;
    if (complete) splitTimeValue(message, timeValue);
    std::free(timeValue);
    if (!complete) {
        freeMessage(message);
        return nullptr;
    }
    return message;
}

void freeMessage(VelantoMessage* message) {
    if (!message) return;
    std::free(message->From);
    std::free(message->To);
    std::free(message->Instruction);
    std::free(message->Message);
    for (char* piece : message->TimeValue)
        std::free(piece);
    std::free(message->HashValue);
    std::free(message);
}

char* formatEnvelope(const VelantoMessage* message) {
    if (!message) return nullptr;
    const std::string envelope =
        "{\"From\":\"" + text(message->From) + "\", \"To\":\"" + text(message->To) +
        "\", \"Instruction\":\"" + text(message->Instruction) + "\", \"Message\":\"" +
        text(message->Message) + "\", \"TimeValue\":\"" + joinedTimeValue(message) +
        "\", \"HashValue\":\"" + text(message->HashValue) + "\"}";
    return dupString(envelope.c_str());
}

char* computeMessageHash(const VelantoMessage* message) {
    if (!message) return nullptr;
    const std::string sealed = text(message->From) + text(message->To) + joinedTimeValue(message) +
                               reinterpret_cast<const char*>(kMessageSalt) +
                               text(message->Instruction) + text(message->Message);
    return sha512Hex(sealed.c_str());
}

bool verifyMessageAt(const VelantoMessage* message, std::uint64_t now) {
    if (!message) return false;
    const std::string joined = joinedTimeValue(message).substr(0, 16);
    char* padded = padLeft(joined.c_str(), 16, ' ');
    const std::string aligned = padded ? padded : "";
    std::free(padded);
    const std::size_t cuts[5] = {0, 3, 7, 11, 16};
    std::uint64_t pieces[4] = {};
    for (int i = 0; i < 4; ++i) {
        const std::string piece = aligned.substr(cuts[i], cuts[i + 1] - cuts[i]);
        int outcome = 0;
        const int value = parseNumber(piece.c_str(), 16, false, &outcome);
        pieces[i] = outcome != 0 ? 0 : static_cast<std::uint32_t>(value);
    }
    const std::uint64_t sent =
        (pieces[0] << 52) + (pieces[1] << 36) + (pieces[2] << 20) + pieces[3];
    if (now - sent > 2) {
        char nowText[32], sentText[32];
        std::snprintf(nowText, sizeof(nowText), "%llx", static_cast<unsigned long long>(now));
        std::snprintf(sentText, sizeof(sentText), "%llx", static_cast<unsigned long long>(sent));
        logWarning("VelantoMessage now time value: ", nowText);
        logWarning("VelantoMessage message time value: ", sentText);
        logWarning("VelantoMessage verify fail: ", "Replay attack");
        return false;
    }
    char* hash = computeMessageHash(message);
    const bool matched = hash && message->HashValue && std::strcmp(hash, message->HashValue) == 0;
    std::free(hash);
    if (isLogEnabled()) {
        if (matched)
            logNormal("VelantoMessage verify state: ", "Success");
        else
            logWarning("VelantoMessage verify state: ", "Fail");
    }
    return matched;
}

bool verifyMessage(const VelantoMessage* message) {
    return verifyMessageAt(message, getTimeValue());
}

bool sendIPCMsgWin(const char* kcstrInputFrom, const char* kcstrInputTo,
                   const char* kcstrInputInstruction) {
    if (!kcstrInputFrom || !kcstrInputTo || !kcstrInputInstruction) {
        if (!kcstrInputFrom) REPORT_NULL("kcstrInputFrom");
        if (!kcstrInputTo) REPORT_NULL("kcstrInputTo");
        if (!kcstrInputInstruction) REPORT_NULL("kcstrInputInstruction");
        return false;
    }
    logNormal("sendIPCMsgWin: ", "Windows API Mode");
    if (platform::channelExists(kcstrInputTo)) {
        VelantoMessage* message = buildMessage(kcstrInputFrom, kcstrInputTo, kcstrInputInstruction);
        char* envelope = formatEnvelope(message);
        if (envelope)
            platform::sendChannelFrame(kcstrInputTo, platform::kChannelMessage,
                                       std::string(envelope, std::strlen(envelope) + 1));
        std::free(envelope);
        freeMessage(message);
    } else {
        logError("sendIPCMsgWin can't find window ",
                 std::string(kcstrInputTo).substr(0, 255).c_str());
    }
    logNormal("sendIPCMsgWin: ", "Lock Mode");
    UserMutex held =
        lockUserMutex((std::string(kcstrInputTo) + kcstrInputInstruction).c_str(), 100);
    sleepMs(100);
    unlockUserMutex(held);
    return true;
}

void setMessageSenderName(const char* from) {
    if (from) senderName = from;
}

bool sendInstruction(const char* kcstrInputTo, const char* instruction) {
    if (!kcstrInputTo) {
        REPORT_NULL("kcstrInputTo");
        return false;
    }
    if (!instruction || !*instruction) {
        logWarning("[Warning] ", "Instruction is empty");
        return false;
    }
    logNormal("Send message mode: ", "Windows api mode");
    const bool sent = sendIPCMsgWin(senderName.c_str(), kcstrInputTo, instruction);
    if (isLogEnabled()) {
        if (sent)
            logNormal("Send message final result: ", "Success");
        else
            logError("Send message final result: ", "Fail");
    }
    return sent;
}

bool killProcess(const char* caller, const char* inputTo) {
    const std::string who = text(caller);
    auto line = [&](const std::string& key, const char* value) {
        logNormal(("[" + who + "] " + key).c_str(), value);
    };
    if (!inputTo) {
        REPORT_NULL("inputTo");
    } else {
        const std::wstring target(inputTo, inputTo + std::strlen(inputTo));
        sendInstruction(inputTo, kInstructionSuicide);
        forceKillProcesses(target.c_str());
        for (int i = 0; i < 30 && findProcess(target.c_str()); ++i)
            sleepMs(100);
        if (findProcess(target.c_str())) {
            line(who + " kill " + inputTo + " fail", nullptr);
            line("Start command kill mode", nullptr);
            const std::string command = std::string("taskkill /F /im ") + inputTo + " /F";
            line("Command: ", command.c_str());
            // The forced kill by name, once more.
            forceKillProcesses(target.c_str());
            for (int i = 0; i < 30 && findProcess(target.c_str()); ++i) {
                logNormalInt(("[" + who + "] Wait for " + inputTo + " shutdown: ").c_str(), i);
                sleepMs(100);
            }
        } else {
            line(who + " kill " + inputTo + " success", nullptr);
        }
    }
    const bool gone =
        !inputTo || !findProcess(std::wstring(inputTo, inputTo + std::strlen(inputTo)).c_str());
    if (isLogEnabled() && inputTo) {
        const std::string key = "[" + who + "] kill " + inputTo + " shutdown state: ";
        if (gone)
            logNormal(key.c_str(), "Success");
        else
            logError(key.c_str(), "Fail");
    }
    return gone;
}

void receiverWindowThread(const char* channel) {
    const std::string name = text(channel);
    platform::ChannelOpen outcome;
    platform::ChannelServer* server = platform::openChannel(name, outcome);
    if (server) {
        logNormal("Windows API IPC message channel: ", name.c_str());
        logNormal("Start Windows API IPC message receiver: ", "Success");
        platform::serveChannel(server, handleFrame);
        platform::closeChannel(server);
    }
    logWarning("[Catastrophic failure] Start Windows API IPC message receiver: ", "Fail");
}

void lockModeThread(const char* inputChannel) {
    if (!inputChannel) {
        REPORT_NULL("inputChannel");
        return;
    }
    const std::string channel = inputChannel;
    struct Check {
        const char* instruction;
        const char* line;
    };
    static const Check kChecks[] = {
        {kInstructionSuicide, "Recivie Suicide message"},
        {kInstructionMonitorStart, "Recivie MonitorStart message"},
        {kInstructionStart, "Recivie start message"},
        {kInstructionStop, "Recivie stop message"},
        {kInstructionRestart, "Recivie restart message"},
    };
    while (!messageStopFlag.load()) {
        for (const auto& check : kChecks) {
            UserMutex mutex = lockUserMutex((channel + check.instruction).c_str(), 0);
            if (mutex) {
                unlockUserMutex(mutex); // nobody is sending this one
                continue;
            }
            logNormal("IPC Message Lock Mode: ", check.line);
            const std::string instruction = check.instruction;
            if (instruction == kInstructionSuicide) {
                if (finalFunction) {
                    logNormal("IPC Message Lock Mode: ", "Exec final function");
                    finalFunction();
                }
                platform::exitProcess(0);
            } else if (instruction == kInstructionMonitorStart) {
                hideNOWaitCommand(L"KestovaQvCAPIVelantoWorker.exe -start");
            } else if (instruction == kInstructionStart) {
                call(startFunction, "Execute start function", "No start function",
                     "IPC Message Lock Mode: ");
            } else if (instruction == kInstructionStop) {
                call(stopFunction, "Execute stop function", "No stop function",
                     "IPC Message Lock Mode: ");
            } else {
                call(restartFunction, "Execute restart function", "No restart function",
                     "IPC Message Lock Mode: ");
            }
            sleepMs(100);
        }
        sleepMs(50);
    }
}

void startMessageReceiver(const char* channel) {
    const std::string name = text(channel);
    std::thread([name] { receiverWindowThread(name.c_str()); }).detach();
    std::thread([name] { lockModeThread(name.c_str()); }).detach();
    // Where the session manager can be reached, lock and unlock arrive as session changes.
    if (isLogEnabled())
        logNormal("Session watcher: ", platform::startSessionWatcher(name) ? "Active" : "Inactive");
    else
        platform::startSessionWatcher(name);
    if (getOsDescriptor() & 0x1) {
        logNormal("IPC mode: ", "Windows API mode");
    } else {
        logNormal("IPC mode: ", "Cross platform + Windows API mode");
        sleepMs(500);
    }
}

// The message channel the programs of the family instruct each other through: a sealed
// envelope to the receiver's channel ("Windows API" mode) and, at once, a per-user mutex
// the receiver polls for ("Lock Mode").
#pragma once

#include <atomic>
#include <cstdint>

constexpr char kInstructionStart[] = "VelantoInstruction_Start";
constexpr char kInstructionStop[] = "VelantoInstruction_Stop";
constexpr char kInstructionRestart[] = "VelantoInstruction_Restart";
constexpr char kInstructionSuicide[] = "VelantoInstruction_Suicide";
constexpr char kInstructionMonitorStart[] = "VelantoInstruction_MonitorStart";

struct VelantoMessage {
    char* From;
    char* To;
    char* Instruction;
    char* Message;
    char* TimeValue[4]; // characters 0-2, 3-6, 7-10 and 11-15 of the time value text
    char* HashValue;    // 128 upper-case hexadecimal digits
};

VelantoMessage* buildMessage(const char* from, const char* to, const char* instruction);
// Reads the envelope's members (case-insensitive keys); null when the text is not one.
VelantoMessage* parseMessage(const char* text);
void freeMessage(VelantoMessage* message);
// {"From":"..", "To":"..", "Instruction":"..", "Message":"..", "TimeValue":"..", "HashValue":".."}
char* formatEnvelope(const VelantoMessage* message);
char* computeMessageHash(const VelantoMessage* message);
// Fresh (at most 2 seconds old, not from the future) and sealed with the family's salt.
bool verifyMessage(const VelantoMessage* message);
bool verifyMessageAt(const VelantoMessage* message, std::uint64_t now);

bool sendIPCMsgWin(const char* kcstrInputFrom, const char* kcstrInputTo,
                   const char* kcstrInputInstruction);
// Sends as the program's own name (setMessageSenderName).
bool sendInstruction(const char* kcstrInputTo, const char* instruction);
void setMessageSenderName(const char* from);
// Stops a program of the family: the suicide instruction, then force. True when it is gone.
bool killProcess(const char* caller, const char* inputTo);

// Handlers a receiving program registers before startMessageReceiver; each may be absent.
extern void (*startFunction)();
extern void (*stopFunction)();
extern void (*restartFunction)();
extern void (*finalFunction)();
extern unsigned char* sleepModeFlag;
extern std::atomic<unsigned char> messageStopFlag;

// Starts the channel's two receiver threads (detached).
void startMessageReceiver(const char* channel);
void receiverWindowThread(const char* channel);
void lockModeThread(const char* inputChannel);

// The message channel: the sealed envelope, and instructions between two real processes.
#include "LogCapture.h"
#include "Sandbox.h"
#include "VelantoUtil/AES.h"
#include "VelantoUtil/Message.h"
#include "VelantoUtil/Tool.h"
#include "VelantoUtil/platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// A message sealed as if sent at the given time value.
VelantoMessage* messageAt(std::uint64_t timeValue, const char* instruction = kInstructionStart) {
    VelantoMessage* message = buildMessage("Tester", "TestChannel", instruction);
    char text[32];
    std::snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(timeValue));
    for (char*& piece : message->TimeValue)
        std::free(piece);
    const std::string value = text;
    const size_t cuts[5] = {0, 3, 7, 11, 16};
    for (int i = 0; i < 4; ++i) {
        const size_t from = std::min(cuts[i], value.size()),
                     to = std::min(cuts[i + 1], value.size());
        message->TimeValue[i] = dupString(value.substr(from, to - from).c_str());
    }
    std::free(message->HashValue);
    message->HashValue = computeMessageHash(message);
    return message;
}

std::string envelopeOf(VelantoMessage* message) {
    char* text = formatEnvelope(message);
    std::string envelope = text;
    std::free(text);
    return envelope;
}

// A receiver in a helper process; its handlers append to a marker file.
struct Receiver {
    Receiver(const std::string& channel, bool final, bool sleepFlag,
             const std::string& program = "velanto_test_helper")
        : channel(channel),
          marker(sandboxDir() + "/marker-" + channel + "-" + std::to_string(next++)) {
        thread = std::thread([=] {
            exitCode = hideWaitCommand(wide(program + " receive " + channel + " " + marker + " " +
                                            (final ? "1" : "0") + " " + (sleepFlag ? "1" : "0"))
                                           .c_str(),
                                       false);
            ended = true;
        });
        ready = waitFor([&] { return markers().find("ready") != std::string::npos; }, 5000);
    }
    ~Receiver() {
        if (!ended) sendInstruction(channel.c_str(), kInstructionSuicide);
        thread.join();
    }
    std::string markers() const { return readFile(marker); }
    bool waitEnded() {
        return waitFor([&] { return ended.load(); }, 5000);
    }

    static inline int next = 0;
    std::string channel;
    std::string marker;
    std::thread thread;
    std::atomic<bool> ended{false};
    int exitCode = -1;
    bool ready = false;
};

bool sendSessionChange(const std::string& channel, int code) {
    return platform::sendChannelFrame(
        channel, platform::kChannelSessionChange,
        std::string(reinterpret_cast<const char*>(&code), sizeof(code)));
}

} // namespace

TEST(MessageEnvelope, FormatParseAndHash) {
    VelantoMessage* message = messageAt(0x12345678);
    EXPECT_STREQ(message->TimeValue[0], "123");
    EXPECT_STREQ(message->TimeValue[1], "4567");
    EXPECT_STREQ(message->TimeValue[2], "8");
    EXPECT_STREQ(message->TimeValue[3], "");
    EXPECT_EQ(std::strlen(message->HashValue), 128u);
    const std::string envelope = envelopeOf(message);
    EXPECT_EQ(envelope,
              std::string("{\"From\":\"Tester\", \"To\":\"TestChannel\", \"Instruction\":\"") +
                  kInstructionStart + "\", \"Message\":\"\", \"TimeValue\":\"12345678\", " +
                  "\"HashValue\":\"" + message->HashValue + "\"}");
    // The hash seals From, To, the time value, the salt's first 71 bytes, Instruction, Message.
    VelantoMessage* parsed = parseMessage(envelope.c_str());
    ASSERT_NE(parsed, nullptr);
    EXPECT_STREQ(parsed->Instruction, kInstructionStart);
    EXPECT_STREQ(parsed->HashValue, message->HashValue);
    EXPECT_TRUE(verifyMessageAt(parsed, 0x12345678));
    freeMessage(parsed);

    EXPECT_EQ(parseMessage("{\"From\":\"a\"}"), nullptr); // members missing
    EXPECT_EQ(
        parseMessage(("{\"from\":\"a\", \"to\":\"b\", \"instruction\":\"c\", \"message\":\"\", "
                      "\"timevalue\":\"12345678901234567\", \"hashvalue\":\"x\"}")),
        nullptr); // more than 16 digits
    EXPECT_EQ(parseMessage(nullptr), nullptr);
    freeMessage(message);
}

TEST(MessageEnvelope, FreshnessAndSeal) {
    LogCapture log;
    const std::uint64_t sent = 0x0123456789ABCDEFull;
    VelantoMessage* message = messageAt(sent);
    for (std::uint64_t age : {0, 1, 2})
        EXPECT_TRUE(verifyMessageAt(message, sent + age)) << age;
    EXPECT_FALSE(verifyMessageAt(message, sent + 3));
    EXPECT_FALSE(verifyMessageAt(message, sent - 1)); // from the future
    EXPECT_TRUE(log.contains("[T][Warning] VelantoMessage verify fail: Replay attack\n"));
    EXPECT_TRUE(log.contains("[T][Warning] VelantoMessage message time value: 123456789abcdef\n"));

    // Sealed over another instruction, or without the salt.
    std::free(message->Instruction);
    message->Instruction = dupString(kInstructionStop);
    EXPECT_FALSE(verifyMessageAt(message, sent));
    std::free(message->HashValue);
    const std::string unsalted =
        std::string("Tester") + "TestChannel" + "123456789abcdef" + kInstructionStop;
    message->HashValue = sha512Hex(unsalted.c_str());
    EXPECT_FALSE(verifyMessageAt(message, sent));
    EXPECT_TRUE(log.contains("[T][Warning] VelantoMessage verify state: Fail\n"));
    freeMessage(message);

    VelantoMessage* now = buildMessage("Tester", "TestChannel", kInstructionStart);
    EXPECT_TRUE(verifyMessage(now));
    freeMessage(now);
}

TEST(MessageChannel, InstructionReachesBothHalvesOnce) {
    LogCapture log;
    setMessageSenderName("Tester");
    Receiver receiver("TestChannel", false, false);
    ASSERT_TRUE(receiver.ready);
    EXPECT_TRUE(sendInstruction("TestChannel", kInstructionStart));
    EXPECT_TRUE(waitFor([&] { return countOf(receiver.markers(), "start") == 2; }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(countOf(receiver.markers(), "start"), 2);
    const std::string text = log.text();
    EXPECT_EQ(
        countOf(text, "[Receiver][Normal] Receive COPYDATA message: VelantoInstruction_Start\n"),
        1);
    EXPECT_EQ(countOf(text, "[Receiver][Normal] IPC Message Lock Mode: Recivie start message\n"),
              1);
    EXPECT_TRUE(log.contains("[T][Normal] Send message final result: Success\n"));

    // Forged or stale envelopes change nothing.
    VelantoMessage* stale = messageAt(getTimeValue() - 3, kInstructionStop);
    const std::string staleText = envelopeOf(stale);
    EXPECT_TRUE(platform::sendChannelFrame("TestChannel", platform::kChannelMessage,
                                           std::string(staleText.c_str(), staleText.size() + 1)));
    freeMessage(stale);
    VelantoMessage* forged = messageAt(getTimeValue(), kInstructionStop);
    std::free(forged->HashValue);
    forged->HashValue = sha512Hex("not sealed with the salt");
    const std::string forgedText = envelopeOf(forged);
    EXPECT_TRUE(platform::sendChannelFrame("TestChannel", platform::kChannelMessage,
                                           std::string(forgedText.c_str(), forgedText.size() + 1)));
    freeMessage(forged);
    EXPECT_TRUE(platform::sendChannelFrame("TestChannel", platform::kChannelMessage, "not json"));
    EXPECT_EQ(countOf(log.text(), "[Receiver][Warning] [Warning] Verify VelantoMessage fail\n"), 3);
    EXPECT_TRUE(log.contains("[Receiver][Warning] VelantoMessage verify fail: Replay attack\n"));
    EXPECT_EQ(countOf(receiver.markers(), "stop"), 0);

    // Nobody listens on a channel that was never opened.
    EXPECT_TRUE(sendInstruction("NoSuchChannel", kInstructionStart));
    EXPECT_TRUE(log.contains("[T][Error] sendIPCMsgWin can't find window NoSuchChannel\n"));
    EXPECT_FALSE(sendInstruction("TestChannel", ""));
    EXPECT_FALSE(sendInstruction(nullptr, kInstructionStart));
}

TEST(MessageChannel, MonitorStartIsForTheLockHalfOnly) {
    LogCapture log;
    // The receiver's program folder holds a stand-in worker that records its arguments.
    const std::string folder = sandboxDir() + "/program";
    fs::create_directories(folder);
    fs::copy_file(helperPath(), folder + "/velanto_test_helper");
    const std::string started = sandboxDir() + "/worker-started";
    writeFile(folder + "/KestovaQvCAPIVelantoWorker", "#!/bin/sh\necho \"$@\" > " + started + "\n");
    fs::permissions(folder + "/KestovaQvCAPIVelantoWorker", fs::perms::owner_all);
    Receiver receiver("ServiceChannel", false, false, folder + "/velanto_test_helper");
    ASSERT_TRUE(receiver.ready);
    sendInstruction("ServiceChannel", kInstructionMonitorStart);
    EXPECT_TRUE(waitFor([&] { return readFile(started) == "-start\n"; }, 3000));
    EXPECT_TRUE(log.contains(
        "[Receiver][Warning] Receive UNKNOW instruction: VelantoInstruction_MonitorStart\n"));
}

TEST(MessageChannel, SuicideEndsTheReceiver) {
    {
        Receiver plain("PlainChannel", false, false);
        ASSERT_TRUE(plain.ready);
        sendInstruction("PlainChannel", kInstructionSuicide);
        ASSERT_TRUE(plain.waitEnded());
        EXPECT_EQ(plain.exitCode, 0);
    }
    Receiver withFinal("FinalChannel", true, false);
    ASSERT_TRUE(withFinal.ready);
    sendInstruction("FinalChannel", kInstructionSuicide);
    ASSERT_TRUE(withFinal.waitEnded());
    EXPECT_EQ(withFinal.exitCode, 0);
    EXPECT_NE(withFinal.markers().find("final"), std::string::npos);
}

TEST(MessageChannel, SessionLockAndUnlock) {
    Receiver sleeper("MonitorChannel", true, true);
    ASSERT_TRUE(sleeper.ready);
    EXPECT_TRUE(sendSessionChange("MonitorChannel", 7));
    EXPECT_TRUE(
        waitFor([&] { return sleeper.markers().find("sleep:1") != std::string::npos; }, 3000));
    EXPECT_TRUE(sendSessionChange("MonitorChannel", 8));
    EXPECT_TRUE(
        waitFor([&] { return sleeper.markers().find("sleep:0") != std::string::npos; }, 3000));
    EXPECT_EQ(sleeper.markers().find("final"), std::string::npos);

    Receiver service("LockChannel", true, false);
    ASSERT_TRUE(service.ready);
    sendSessionChange("LockChannel", 2); // the final function ends it before it can answer
    EXPECT_TRUE(
        waitFor([&] { return service.markers().find("final") != std::string::npos; }, 3000));

    Receiver bare("BareChannel", false, false);
    ASSERT_TRUE(bare.ready);
    sendSessionChange("BareChannel", 4);
    ASSERT_TRUE(bare.waitEnded());
    EXPECT_EQ(bare.exitCode, 0);
}

TEST(MessageChannel, SecondReceiverStillPolls) {
    LogCapture log;
    Receiver first("SharedChannel", false, false);
    ASSERT_TRUE(first.ready);
    Receiver second("SharedChannel", false, false);
    ASSERT_TRUE(second.ready);
    EXPECT_TRUE(waitFor(
        [&] {
            return log.contains("[Receiver][Warning] [Catastrophic failure] Start Windows API IPC "
                                "message receiver: Fail\n");
        },
        3000));
    sendInstruction("SharedChannel", kInstructionRestart);
    EXPECT_TRUE(waitFor([&] { return countOf(second.markers(), "restart") == 1; }, 3000));
    EXPECT_TRUE(waitFor([&] { return countOf(first.markers(), "restart") == 2; }, 3000));
}

TEST(MessageChannel, OnlyTheSameUserMayInstruct) {
    Receiver receiver("PrivateChannel", false, false);
    ASSERT_TRUE(receiver.ready);
    const std::string folder = runtimeDir() + "/velanto";
    struct stat st;
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((folder + "/PrivateChannel.sock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";

    // Opened up on purpose, so only the peer check stands between another user and it.
    chmod(sandboxDir().c_str(), 0755);
    chmod(runtimeDir().c_str(), 0755);
    chmod(folder.c_str(), 0755);
    chmod((folder + "/PrivateChannel.sock").c_str(), 0666);
    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        if (!platform::channelExists("PrivateChannel")) _exit(4); // the socket must be reachable
        VelantoMessage* message = buildMessage("Forger", "PrivateChannel", kInstructionStop);
        char* envelope = formatEnvelope(message);
        const bool sent =
            platform::sendChannelFrame("PrivateChannel", platform::kChannelMessage,
                                       std::string(envelope, std::strlen(envelope) + 1));
        _exit(sent ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0); // refused without acknowledgement
    EXPECT_EQ(countOf(receiver.markers(), "stop"), 0);
}

TEST(MessageChannel, KillProcess) {
    LogCapture log;
    const std::string name = "velanto_stubborn_" + std::to_string(getpid());
    fs::copy_file(helperPath(), sandboxDir() + "/" + name);
    hideNOWaitCommand(wide(sandboxDir() + "/" + name + " sleep 30000").c_str());
    ASSERT_TRUE(waitFor([&] { return findProcess(wide(name).c_str()); }, 5000));
    EXPECT_TRUE(killProcess("Tester", (name + ".exe").c_str()));
    EXPECT_FALSE(findProcess(wide(name).c_str()));
    EXPECT_TRUE(
        log.contains("[T][Normal] [Tester] kill " + name + ".exe shutdown state: Success\n"));

    EXPECT_TRUE(killProcess("Tester", "velanto_not_running.exe"));
    EXPECT_TRUE(log.contains("[T][Normal] [Tester] Tester kill velanto_not_running.exe success\n"));
    EXPECT_TRUE(killProcess("Tester", nullptr));
    EXPECT_TRUE(log.contains("Parameter inputTo is null"));
}

// ZmLog: the settings-driven file logger shared by every program of the family.
#pragma once

#include <cstdarg>

// Reader results.
constexpr int kZmLogFound = 0;
constexpr int kZmLogNoFile = 101;
constexpr int kZmLogNoSection = 102;
constexpr int kZmLogNoKey = 103;

// Reads the settings, switches the engine on when "Log Level" is present. 0 when the level
// was read, -1 when already initialised, otherwise the reader's code for the level key.
int ZmLogInit(const char* path);
// Looks up key in the program section of the settings file at path.
int ZmLogReadValue(const char* key, char* out, int size, const char* path);
// One record under the log lock; -2 without writing when level is above the configured one.
int ZmLogPrint(int level, const char* unused, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// One record; the caller holds the log lock (ZmLogAcquire).
void ZmLogWrite(int level, const char* format, va_list args);
// The current file name and time stamp, 128 bytes each.
void ZmLogFileName(char* fileName, char* timeStamp);
// Opens or creates the cross-process log lock; false when writers go on without it.
bool ZmLogOpenMutex();
void ZmLogAcquire();
void ZmLogRelease();
// Uninitialises the engine (level 0) and reopens the log lock.
void ZmLogStop();

bool ZmLogIsInitialised();
int ZmLogConfiguredLevel();

// Levelled, coloured diagnostic output and the fatal stop.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

struct Stream;
namespace plat {
struct Sema;
}

#define PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))

void Printf(const char* format, ...) PRINTF_LIKE(1, 2);
void Displayf(const char* format, ...) PRINTF_LIKE(1, 2);
void Debugf(int32_t debugLevel, const char* format, ...) PRINTF_LIKE(2, 3);
void Warningf(const char* format, ...) PRINTF_LIKE(1, 2);
void Errorf(const char* format, ...) PRINTF_LIKE(1, 2);
void Quitf(const char* format, ...) PRINTF_LIKE(1, 2);
void Abortf(const char* format, ...) PRINTF_LIKE(1, 2);

void DefaultPrint(int level, const char* format, va_list args);
void ConsolePrint(const char* text);
// Console text to standard error, for programs whose standard output is
// data: colour escapes ("ESC [ digits m") kept when colour is true, else
// dropped. Flushed at once.
void ConsoleToStderr(const char* text, bool colour);
// Flushes and closes standard output, for a program whose output is data: 0
// when every byte written to it got there, else the system's error number
// (-1 when it gave none). Nothing may be written to standard output after.
int CloseStdout();

enum : uint32_t {
    kMaskPrint = 2,    // levels 1 and 2
    kMaskWarning = 4,  // level 3
    kMaskError = 8,    // level 4
};

extern uint32_t OutputMask;
extern bool FatalBox;
extern bool ErrorBox;
extern void (*PrintHook)(int level, const char* format, va_list args);
extern void (*ConsoleHook)(const char* text);
extern void (*BeforeBoxHook)();
extern void (*AfterErrorBoxHook)();
extern void (*FatalHook)(const char* message);
extern void (*QuitHook)();
extern Stream* LogStream;

struct ThreadName {
    uint32_t m_Id;
    const char* m_Name;
};
const int kMaxThreadNames = 8;
extern ThreadName ThreadNames[kMaxThreadNames];
extern int32_t ThreadNameCount;

// Set by the fatal channels; they only ever go from false to true.
extern std::atomic<bool> s_Quitting;
extern std::atomic<bool> s_Aborted;
// Created on the first message.
extern struct plat::Sema* OutputSema;

// A message's text, terminator included: the channels cut anything longer.
const int kMessageSize = 488;

// Status of a process ended by the fatal stop when no debugger resumes it.
const int kFatalExitStatus = 3;

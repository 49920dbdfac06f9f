// The operating-system calls behind the diagnostics and the fatal stop, as one
// swappable table. The runtime always goes through s_System, so a test can put
// a table of its own in place and see every console byte, answer every message
// box and keep the process alive through a fatal stop.
#pragma once

#include <cstdint>

struct CoreSystem {
    void (*ConsoleChar)(int c);
    void (*ConsoleFlush)();
    void (*ConsoleAttribute)(uint16_t attribute);
    void (*DebuggerText)(const char* text);
    // Returns the button pressed, or 0 when no box was shown.
    int32_t (*MessageBox)(const char* text, const char* caption, uint32_t style);
    // Returns true when a debugger took the break and resumed the program.
    bool (*DebugBreak)();
    // Normally never returns; a test's replacement may.
    void (*EndProcess)(int status);
};

extern const CoreSystem s_PlatformSystem;
extern const CoreSystem* s_System;

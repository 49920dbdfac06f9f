#include "core/system.h"

#include "platform/platform.h"

static bool PlatformDebugBreak() {
    if (!plat::DebuggerAttached()) return false;
    plat::DebugBreak();
    return true;
}

static void PlatformEndProcess(int status) { plat::EndProcess(status); }

const CoreSystem s_PlatformSystem = {
    plat::ConsoleWriteChar,    // ConsoleChar
    plat::ConsoleFlush,        // ConsoleFlush
    plat::ConsoleSetAttribute, // ConsoleAttribute
    plat::DebuggerText,        // DebuggerText
    plat::MessageBox,          // MessageBox
    PlatformDebugBreak,        // DebugBreak
    PlatformEndProcess,        // EndProcess
};

const CoreSystem* s_System = &s_PlatformSystem;

// The console colour reaches the Windows console as a text attribute.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/output.h"
#include "core/system.h"
#include "platform/platform.h"

namespace {

// Standard output pointed at a fresh console screen buffer for one test.
class ConsoleBuffer {
public:
    ConsoleBuffer() {
        AllocConsole();  // fails harmlessly when there is one already
        m_Previous = GetStdHandle(STD_OUTPUT_HANDLE);
        m_Buffer = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             CONSOLE_TEXTMODE_BUFFER, nullptr);
        SetStdHandle(STD_OUTPUT_HANDLE, m_Buffer);
    }
    ~ConsoleBuffer() {
        SetStdHandle(STD_OUTPUT_HANDLE, m_Previous);
        CloseHandle(m_Buffer);
    }
    bool Ready() const { return m_Buffer != INVALID_HANDLE_VALUE; }
    WORD Attribute() const {
        CONSOLE_SCREEN_BUFFER_INFO info = {};
        GetConsoleScreenBufferInfo(m_Buffer, &info);
        return info.wAttributes;
    }

private:
    HANDLE m_Previous;
    HANDLE m_Buffer;
};

TEST(ConsoleWin32, ColourEscapesSetTheConsoleTextAttribute) {
    ConsoleBuffer console;
    // Needs a console to attach to: run with a terminal (under Wine, ctest
    // started on a pseudo-terminal).
    ASSERT_TRUE(console.Ready()) << "no console: error " << GetLastError();
    plat::ConsoleSetAttribute(12);
    EXPECT_EQ(console.Attribute(), 12);

    // Through the runtime's own console writer, as an error line travels.
    const CoreSystem* previous = s_System;
    s_System = &s_PlatformSystem;
    ConsolePrint("\x1b[33m");
    EXPECT_EQ(console.Attribute(), 14);
    ConsolePrint("\x1b[0m");
    EXPECT_EQ(console.Attribute(), 7);
    s_System = previous;
}

}  // namespace

// Stands in for the operating system behind the diagnostics while a test runs:
// records console bytes and colour changes, debugger lines, message boxes and
// process ends, answers boxes from a queue, and puts every process-wide
// output and assertion setting back when it goes out of scope.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "core/system.h"

struct BoxRecord {
    std::string m_Text;
    std::string m_Caption;  // "<null>" for no caption
    uint32_t m_Style;
};

class CaptureSystem {
public:
    CaptureSystem();
    ~CaptureSystem();

    // Console output with every colour change written as "<attribute>".
    std::string m_Console;
    std::vector<uint16_t> m_Attributes;
    int m_Flushes = 0;
    // How much of m_Console had been written when it was last flushed.
    size_t m_FlushedUpTo = 0;
    // m_Flushes as it stood at each colour change, in order.
    std::vector<int> m_FlushesAtAttribute;
    std::vector<std::string> m_DebuggerLines;
    std::vector<BoxRecord> m_Boxes;
    // Answers given to message boxes in order; 0 ("no box shown") when empty.
    std::deque<int32_t> m_BoxAnswers;
    std::vector<int> m_EndStatuses;
    int m_Breaks = 0;
    // What the debug break reports: true as if a debugger resumed the program.
    bool m_DebuggerResumes = false;

    static CaptureSystem* s_Active;

private:
    const CoreSystem* m_Previous;
};

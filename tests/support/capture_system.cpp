#include "support/capture_system.h"

#include "core/assert.h"
#include "core/output.h"
#include "data/param.h"

CaptureSystem* CaptureSystem::s_Active = nullptr;

static void CaptureChar(int c) { CaptureSystem::s_Active->m_Console += static_cast<char>(c); }

static void CaptureFlush() {
    CaptureSystem::s_Active->m_Flushes++;
    CaptureSystem::s_Active->m_FlushedUpTo = CaptureSystem::s_Active->m_Console.size();
}

static void CaptureAttribute(uint16_t attribute) {
    CaptureSystem::s_Active->m_Attributes.push_back(attribute);
    CaptureSystem::s_Active->m_FlushesAtAttribute.push_back(CaptureSystem::s_Active->m_Flushes);
    CaptureSystem::s_Active->m_Console += "<" + std::to_string(attribute) + ">";
}

static void CaptureDebugger(const char* text) {
    CaptureSystem::s_Active->m_DebuggerLines.push_back(text);
}

static int32_t CaptureBox(const char* text, const char* caption, uint32_t style) {
    CaptureSystem* self = CaptureSystem::s_Active;
    self->m_Boxes.push_back({text, caption ? caption : "<null>", style});
    if (self->m_BoxAnswers.empty()) return 0;
    int32_t answer = self->m_BoxAnswers.front();
    self->m_BoxAnswers.pop_front();
    return answer;
}

static bool CaptureBreak() {
    CaptureSystem::s_Active->m_Breaks++;
    return CaptureSystem::s_Active->m_DebuggerResumes;
}

static void CaptureEnd(int status) { CaptureSystem::s_Active->m_EndStatuses.push_back(status); }

static const CoreSystem kCaptureSystem = {
    CaptureChar,       // ConsoleChar
    CaptureFlush,      // ConsoleFlush
    CaptureAttribute,  // ConsoleAttribute
    CaptureDebugger,   // DebuggerText
    CaptureBox,        // MessageBox
    CaptureBreak,      // DebugBreak
    CaptureEnd,        // EndProcess
};

static void ResetSettings() {
    OutputMask = kMaskPrint | kMaskWarning | kMaskError;
    FatalBox = true;
    ErrorBox = false;
    PrintHook = DefaultPrint;
    ConsoleHook = ConsolePrint;
    BeforeBoxHook = AfterErrorBoxHook = QuitHook = nullptr;
    FatalHook = nullptr;
    LogStream = nullptr;
    ThreadNameCount = 0;
    s_Quitting = s_Aborted = s_IgnoreAsserts = false;
    assertquery.m_Value = 0;
}

CaptureSystem::CaptureSystem() : m_Previous(s_System) {
    ResetSettings();
    s_Active = this;
    s_System = &kCaptureSystem;
}

CaptureSystem::~CaptureSystem() {
    s_System = m_Previous;
    s_Active = nullptr;
    ResetSettings();
}

#include "core/cmdline.h"

#include <cstdio>
#include <cstring>

#include "core/version.h"

CmdWalk::CmdWalk(const char* program, int argc, char** argv, int first)
    : m_Program(program), m_Argc(argc), m_Argv(argv), m_At(first - 1) {}

bool CmdWalk::Next() {
    if (m_End != kCmdRun || ++m_At >= m_Argc) return false;
    const char* arg = m_Argv[m_At];
    if (m_OptionsEnded) return true;
    if (strcmp(arg, "--") == 0) {
        m_OptionsEnded = true;
        return Next();
    }
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) m_End = kCmdHelp;
    else if (strcmp(arg, "--version") == 0) m_End = kCmdVersion;
    return m_End == kCmdRun;
}

const char* CmdWalk::Operand() const {
    const char* arg = m_Argv[m_At];
    return m_OptionsEnded || arg[0] != '-' || arg[1] == 0 ? arg : nullptr;
}

bool CmdWalk::Flag(const char* name, const char* alias) {
    if (Operand()) return false;
    const char* arg = m_Argv[m_At];
    if (alias && strcmp(arg, alias) == 0) return true;
    size_t length = strlen(name);
    if (strncmp(arg, name, length) != 0) return false;
    if (arg[length] == '=') Bad("%s takes no value", name);
    return arg[length] == 0;
}

bool CmdWalk::Value(const char* name, const char** value, const char* alias) {
    if (Operand()) return false;
    const char* arg = m_Argv[m_At];
    size_t length = strlen(name);
    bool named = strncmp(arg, name, length) == 0 && (arg[length] == 0 || arg[length] == '=');
    if (!named && !(alias && strcmp(arg, alias) == 0)) return false;
    if (named && arg[length] == '=') {
        *value = arg + length + 1;
        return true;
    }
    if (m_At + 1 >= m_Argc) return Bad("%s needs a value", arg);
    *value = m_Argv[++m_At];
    return true;
}

bool CmdWalk::Bad(const char* format, ...) {
    if (m_End != kCmdRun) return false;
    m_End = kCmdBad;
    fprintf(stderr, "%s: ", m_Program);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    return false;
}

bool CmdWalk::Unknown() {
    const char* arg = m_Argv[m_At];
    return Bad("unknown option '%.*s'", static_cast<int>(strcspn(arg, "=")), arg);
}

// The version goes under the program's own name, not its command's.
int CmdWalk::Answer(const char* usage, int badStatus) const {
    if (m_End == kCmdBad) {
        fprintf(stderr, "Try '%s --help'.\n", m_Program);
        return badStatus;
    }
    if (m_End == kCmdHelp) fputs(usage, stdout);
    else printf("%.*s %s\n", static_cast<int>(strcspn(m_Program, " ")), m_Program, SegsorterVersion());
    return fflush(stdout) == 0 ? 0 : 1;
}

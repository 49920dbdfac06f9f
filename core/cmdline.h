// A program's command line walked the way its users expect: "--opt=value"
// and "--opt value" alike, "--" ending the options, -h/--help and --version
// answered on standard output, and a wrong argument named on standard error
// in one line instead of the whole usage.
#pragma once

#include "core/output.h"

enum CmdEnd { kCmdRun, kCmdHelp, kCmdVersion, kCmdBad };

// Each step looks at one argument: the caller asks whether it is an operand,
// a flag or an option with a value, and calls Unknown when it is none.
class CmdWalk {
public:
    // program names the command in messages ("segzip build"); its first word
    // is what --version prints. The walk starts at argv[first].
    CmdWalk(const char* program, int argc, char** argv, int first = 1);

    // The next argument; false at the end, at -h, --help or --version (before
    // a "--"), and once the command line is bad.
    bool Next();
    // The argument when it is an operand ("-" is one, and so is everything
    // after "--"), else null.
    const char* Operand() const;
    // "--name" or its alias ("-l"); "--name=..." is refused.
    bool Flag(const char* name, const char* alias = nullptr);
    // "--name=VALUE", "--name VALUE" or "ALIAS VALUE". A missing value is
    // refused, and false.
    bool Value(const char* name, const char** value, const char* alias = nullptr);
    // Says "PROGRAM: MESSAGE" on standard error and ends the walk; only the
    // first wrong thing is said. Always false.
    bool Bad(const char* format, ...) PRINTF_LIKE(2, 3);
    // The argument is no option of the program.
    bool Unknown();

    CmdEnd End() const { return m_End; }
    // For a walk that did not end in a run: prints the usage or the version
    // and gives 0, or points at --help and gives badStatus.
    int Answer(const char* usage, int badStatus) const;

private:
    const char* m_Program;
    int m_Argc;
    char** m_Argv;
    int m_At;
    bool m_OptionsEnded = false;
    CmdEnd m_End = kCmdRun;
};

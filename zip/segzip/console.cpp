// The library prints its diagnostics on the console, which is standard output;
// segzip's standard output is member bytes and listings, so the console goes
// to standard error instead.
#include <cstdio>
#include <cstdlib>

#include "core/output.h"
#include "zip/segzip/segzip.h"

#ifndef _WIN32
#include <unistd.h>
#endif

static bool s_StderrColour = false;
static bool s_StderrTerminal = false;

bool StderrIsTerminal() { return s_StderrTerminal; }

// Colour escapes pass through only to a terminal, and not when NO_COLOR is
// set (to anything).
static void StderrConsole(const char* text) { ConsoleToStderr(text, s_StderrColour); }

void RouteConsoleToStderr() {
#ifndef _WIN32
    s_StderrTerminal = isatty(STDERR_FILENO);
    s_StderrColour = s_StderrTerminal && getenv("NO_COLOR") == nullptr;
#endif
    ConsoleHook = StderrConsole;
}

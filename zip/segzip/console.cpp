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
// set (to anything); otherwise each "ESC [ digits m" is dropped.
static void StderrConsole(const char* text) {
    const char* run = text;
    for (const char* p = text; *p; ++p) {
        if (*p != '\x1b' || s_StderrColour) continue;
        fwrite(run, 1, static_cast<size_t>(p - run), stderr);
        if (p[1] == '[') ++p;
        while (p[1] >= '0' && p[1] <= '9') ++p;
        if (p[1] == 'm') ++p;
        run = p + 1;
    }
    fputs(run, stderr);
    fflush(stderr);
}

void RouteConsoleToStderr() {
#ifndef _WIN32
    s_StderrTerminal = isatty(STDERR_FILENO);
    s_StderrColour = s_StderrTerminal && getenv("NO_COLOR") == nullptr;
#endif
    ConsoleHook = StderrConsole;
}

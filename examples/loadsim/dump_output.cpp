#include "examples/loadsim/dump_output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/output.h"

namespace {

bool IsRecord(const char* text) {
    return strncmp(text, "::OPEN::(", 9) == 0 || strncmp(text, "::LOADSEG::(", 12) == 0;
}

// Colour escapes are for a console; standard error gets the text without them.
void WritePlain(const char* text) { ConsoleToStderr(text, false); }

// Why the dump was first cut short, kept for the report at the end: every
// record is flushed as it is written, so the end's own flush succeeds.
int s_DumpError = 0;

// Records keep the console's own handling (colour only on a terminal).
void RouteConsole(const char* text) {
    if (!IsRecord(text)) {
        WritePlain(text);
        return;
    }
    ConsolePrint(text);
    if (ferror(stdout) && s_DumpError == 0) s_DumpError = errno;
}

// The display channel cuts a message at a few hundred characters; a warning
// or error naming a long file is written whole here instead.
void PrintWhole(int level, const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::vector<char> message(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    vsnprintf(message.data(), message.size(), format, args);
    fprintf(stderr, "%s%s\n", level == 3 ? "Warning: " : "Error: ", message.data());
}

void SplitPrint(int level, const char* format, va_list args) {
    if (level == 3 || level == 4) PrintWhole(level, format, args);
    else DefaultPrint(level, format, args);
}

}  // namespace

void RouteOutput() {
    PrintHook = SplitPrint;
    ConsoleHook = RouteConsole;
}

bool FinishDump() {
    int error = CloseStdout();
    if (error == 0) return true;
    if (s_DumpError == 0 && error > 0) s_DumpError = error;
    fprintf(stderr, "loadsim: the load dump was not written whole to standard output%s%s\n",
            s_DumpError ? ": " : "", s_DumpError ? strerror(s_DumpError) : "");
    return false;
}

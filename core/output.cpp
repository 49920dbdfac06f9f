#include "core/output.h"

#include <cerrno>
#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/ipc.h"
#include "core/strings.h"
#include "core/system.h"
#include "file/stream.h"
#include "platform/platform.h"

uint32_t OutputMask = kMaskPrint | kMaskWarning | kMaskError;
bool FatalBox = true;
bool ErrorBox = false;
void (*PrintHook)(int level, const char* format, va_list args) = DefaultPrint;
void (*ConsoleHook)(const char* text) = ConsolePrint;
void (*BeforeBoxHook)() = nullptr;
void (*AfterErrorBoxHook)() = nullptr;
void (*FatalHook)(const char* message) = nullptr;
void (*QuitHook)() = nullptr;
Stream* LogStream = nullptr;
ThreadName ThreadNames[kMaxThreadNames];
int32_t ThreadNameCount = 0;
std::atomic<bool> s_Quitting{false};
std::atomic<bool> s_Aborted{false};
Semaphore OutputSema = nullptr;

static const char* const kPrefix[6] = {
    "", "", "", "\x1b[33mWarning: ", "\x1b[31mError: ", "\x1b[31mFatal Error: ",
};
static const char* const kSuffix[6] = {
    "", "\x1b[0m\n", "\x1b[0m\n", "\x1b[0m\n", "\x1b[0m\n", "\x1b[0m\n",
};
const int kLineSize = 512;
const int kColourEscapeLength = 5;  // "\e[31m" and its kind

// Two threads printing their first message at once must share one semaphore.
static Semaphore TheOutputSema() {
    static Semaphore sema = (OutputSema = CreateSema(1));
    return sema;
}

// The thread that holds OutputSema (0 when none does). A message raised while
// that thread prints, by a log device that fails an assertion for one, cannot
// wait for the semaphore it holds itself: it goes straight through.
static std::atomic<uint32_t> s_OutputHolder{0};

static void TakeOutput(Semaphore sema, uint32_t self) {
    WaitSema(sema);
    s_OutputHolder.store(self, std::memory_order_relaxed);
}

static void ReleaseOutput(Semaphore sema) {
    s_OutputHolder.store(0, std::memory_order_relaxed);
    SignalSema(sema);
}

static const char* PlainPrefix(int level) {
    const char* prefix = kPrefix[level];
    return prefix[0] == '\x1b' ? prefix + kColourEscapeLength : prefix;
}

static const char* CallerThreadName(int level) {
    if (level == 0) return "";
    uint32_t id = plat::ThreadId();
    for (int i = 0; i < ThreadNameCount && i < kMaxThreadNames; ++i)
        if (ThreadNames[i].m_Id == id) return ThreadNames[i].m_Name;
    return "";
}

// Other threads may print while the box is up, so the lock is let go; a
// nested message (sema null) has no lock of its own to let go.
static void ShowBox(int level, const char* message, Semaphore sema) {
    if (!((ErrorBox && level == 4) || (FatalBox && level == 5))) return;
    if (BeforeBoxHook) BeforeBoxHook();
    if (sema) ReleaseOutput(sema);
    s_System->MessageBox(message, PlainPrefix(level), plat::kBoxIconError);
    if (sema) TakeOutput(sema, plat::ThreadId());
    if (level == 4 && AfterErrorBoxHook) AfterErrorBoxHook();
}

static void WriteLines(int level, const char* message) {
    char line[kLineSize];
    SafeSnprintf(line, sizeof line, "%s%s%s%s", CallerThreadName(level), PlainPrefix(level),
                 message, level == 0 ? "" : "\n");
    s_System->DebuggerText(line);
    SafeSnprintf(line, sizeof line, "%s%s%s%s", CallerThreadName(level), kPrefix[level], message,
                 kSuffix[level]);
    ConsoleHook(line);
}

// A nested message is not mirrored: the log stream is in the middle of the
// outer one's, and may be the very thing that failed.
void DefaultPrint(int level, const char* format, va_list args) {
    Semaphore sema = TheOutputSema();
    const uint32_t self = plat::ThreadId();
    const bool nested = s_OutputHolder.load(std::memory_order_relaxed) == self;
    if (!nested) TakeOutput(sema, self);
    char message[kMessageSize];
    SafeVsnprintf(message, sizeof message, format, args);
    // A message box or a console driver may change the floating-point modes.
    fenv_t fpu;
    fegetenv(&fpu);
    ShowBox(level, message, nested ? nullptr : sema);
    WriteLines(level, message);
    fesetenv(&fpu);
    if (LogStream && !nested) {
        LogStream->Printf("%s\n", message);
        LogStream->Flush();
    }
    if (!nested) ReleaseOutput(sema);
    if (level == 5 && FatalHook) FatalHook(message);
}

struct ColourEntry {
    uint32_t m_Number;
    uint16_t m_Attribute;
};
static const ColourEntry kColours[] = {
    {0, 7}, {31, 12}, {32, 10}, {33, 14}, {34, 9}, {35, 13}, {36, 11}, {37, 15}, {38, 9},
};

static void SetColour(uint32_t number) {
    for (const ColourEntry& entry : kColours)
        if (entry.m_Number == number) s_System->ConsoleAttribute(entry.m_Attribute);
}

void ConsolePrint(const char* text) {
    enum { kPlain, kEscape, kNumber } state = kPlain;
    uint32_t number = 0;  // unsigned: a long run of digits wraps instead of overflowing
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == '\x1b') {
            state = kEscape;
        } else if (state == kPlain) {
            s_System->ConsoleChar(static_cast<unsigned char>(c));
        } else if (state == kEscape) {
            state = c == '[' ? kNumber : kPlain;
            number = 0;
        } else if (c == 'm') {
            s_System->ConsoleFlush();
            SetColour(number);
            state = kPlain;
        } else {
            number = number * 10 + static_cast<uint32_t>(c - '0');
        }
    }
    // Standard output on a pipe is fully buffered: without this the line end
    // would wait for the next message, and a reader waiting for the line with it.
    s_System->ConsoleFlush();
}

#define OUTPUT_CHANNEL(level)                  \
    do {                                       \
        va_list args;                          \
        va_start(args, format);                \
        PrintHook(level, format, args);        \
        va_end(args);                          \
    } while (0)

void Printf(const char* format, ...) {
    if (OutputMask & kMaskPrint) OUTPUT_CHANNEL(1);
}

void Displayf(const char* format, ...) {
    if (OutputMask & kMaskPrint) OUTPUT_CHANNEL(2);
}

void Debugf(int32_t debugLevel, const char* format, ...) {
    if (debugLevel >= 1) OUTPUT_CHANNEL(2);
}

void Warningf(const char* format, ...) {
    if (OutputMask & kMaskWarning) OUTPUT_CHANNEL(3);
}

void Errorf(const char* format, ...) {
    if (OutputMask & kMaskError) OUTPUT_CHANNEL(4);
}

// The message, the streams closed so pending bytes are kept, then the break.
// Without a debugger to resume in, the process ends here.
static void FatalStop(const char* format, va_list args) {
    if (s_Quitting.exchange(true)) return;
    PrintHook(5, format, args);
    if (QuitHook) QuitHook();
    Stream::CloseAll();
    if (s_System->DebugBreak()) return;
    s_System->EndProcess(kFatalExitStatus);
}

void Quitf(const char* format, ...) {
    if (!format) exit(0);
    va_list args;
    va_start(args, format);
    FatalStop(format, args);
    va_end(args);
}

void Abortf(const char* format, ...) {
    if (!format) exit(0);
    if (s_Aborted.exchange(true)) return;
    va_list args;
    va_start(args, format);
    FatalStop(format, args);
    va_end(args);
}

int CloseStdout() {
    bool lost = ferror(stdout) != 0;
    errno = 0;
    lost |= fflush(stdout) != 0;
    lost |= fclose(stdout) != 0;
    if (!lost) return 0;
    return errno ? errno : -1;
}

void ConsoleToStderr(const char* text, bool colour) {
    const char* run = text;
    for (const char* p = text; *p; ++p) {
        if (*p != '\x1b' || colour) continue;
        fwrite(run, 1, static_cast<size_t>(p - run), stderr);
        if (p[1] == '[') ++p;
        while (p[1] >= '0' && p[1] <= '9') ++p;
        if (p[1] == 'm') ++p;
        run = p + 1;
    }
    fputs(run, stderr);
    fflush(stderr);
}

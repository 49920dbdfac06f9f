// The parts of the platform layer that only show in another process: colour on
// a terminal, the question asked at a terminal and the end of the process. Each
// case runs in a child so that it can own its standard streams.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace {

struct Child {
    std::string output;  // everything written to the terminal or the pipe
    int exitCode = -1;   // -1 when the child did not exit normally
};

// Runs body in a child whose result becomes its exit code. On a terminal the
// child's streams are a new pseudo-terminal with input typed on it, then end of
// input, so that a child which reads too much still ends. Otherwise stdin reads
// input from one pipe and stdout and stderr share another.
Child RunChild(bool terminal, std::string input, const std::function<int()>& body) {
    Child child;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, master = -1;
    // Into a pipe before the fork (it fits the buffer): a child that never
    // reads may be gone before a later write. A terminal only exists after it.
    if (!terminal && (pipe(in) != 0 || pipe(out) != 0 ||
                      write(in[1], input.data(), input.size()) != ssize_t(input.size())))
        return child;
    if (!terminal) close(in[1]);
    fflush(nullptr);  // else the child writes unflushed test output a second time
    pid_t pid = terminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
    if (pid == 0) {
        if (!terminal) dup2(in[0], 0), dup2(out[1], 1), dup2(out[1], 2);
        plat::EndProcess(body());
    }
    if (!terminal) close(in[0]), close(out[1]);
    if (pid < 0) return child;
    input += "\x04";  // ^D: end of input
    if (terminal && write(master, input.data(), input.size()) < 0) {
        // Typing fails only when the child has already gone; what it wrote still counts.
    }
    int from = terminal ? master : out[0];
    char buffer[512];
    // A terminal's master side reports EIO once the child has gone.
    for (ssize_t got; (got = read(from, buffer, sizeof buffer)) > 0;)
        child.output.append(buffer, size_t(got));
    close(from);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) child.exitCode = WEXITSTATUS(status);
    return child;
}

TEST(PlatformConsole, ColourOnlyOnATerminalWithoutNoColor) {
    // Every attribute the output code uses, and one it does not.
    static const std::pair<uint16_t, const char*> colours[] = {
        {12, "\x1b[91m"}, {14, "\x1b[93m"}, {10, "\x1b[92m"}, {9, "\x1b[94m"}, {13, "\x1b[95m"},
        {11, "\x1b[96m"}, {15, "\x1b[97m"}, {7, "\x1b[0m"},   {0, ""}};
    std::string coloured, plain;
    for (const auto& c : colours) coloured += std::string(c.second) + "|", plain += "|";
    enum Mode { kTerminal, kPipe, kNoColorEmpty };
    for (Mode mode : {kTerminal, kPipe, kNoColorEmpty}) {
        Child child = RunChild(mode != kPipe, "", [mode] {
            mode == kNoColorEmpty ? setenv("NO_COLOR", "", 1) : unsetenv("NO_COLOR");
            for (const auto& c : colours)
                plat::ConsoleSetAttribute(c.first), plat::ConsoleWriteChar('|');
            return 0;
        });
        EXPECT_EQ(0, child.exitCode) << "mode " << mode;
        EXPECT_EQ(mode == kTerminal ? coloured : plain, child.output) << "mode " << mode;
    }
}

TEST(PlatformProcess, EndProcessFlushesBothStreamsAndKeepsTheStatus) {
    Child child = RunChild(false, "", [] {
        static char errorBuffer[64];
        setvbuf(stderr, errorBuffer, _IOFBF, sizeof errorBuffer);  // hold it back too
        plat::ConsoleWriteChar('o');
        plat::ConsoleWriteChar('k');
        fputs("!", stderr);
        plat::EndProcess(7);  // the body's own return is never reached
        return 0;
    });
    EXPECT_EQ(7, child.exitCode);
    EXPECT_TRUE(child.output == "ok!" || child.output == "!ok") << child.output;
}

// The answer is typed before the question comes, so a box that should not ask
// gives a wrong result instead of hanging the test.
TEST(PlatformMessageBox, AsksOnlyAtATerminalAndTakesTheFirstLetter) {
    const uint32_t ari = plat::kBoxAbortRetryIgnore, ok = plat::kBoxOk | plat::kBoxIconError;
    struct Case {
        bool terminal, quietError;  // quietError: stderr goes to /dev/null
        uint32_t style;
        const char *caption, *typed;
        int32_t result, prompts;
    } const cases[] = {
        {false, false, ari, "Trouble", "r\n", plat::kNoBox, 0},
        {true, true, ari, "Trouble", "r\n", plat::kNoBox, 0},
        {true, false, ok, "Trouble", "r\n", plat::kNoBox, 0},
        {true, false, ari, "Trouble", "a\n", plat::kIdAbort, 1},
        {true, false, ari, "Trouble", "R\n", plat::kIdRetry, 1},
        {true, false, ari, nullptr, "  ignore\n", plat::kIdIgnore, 1},
        {true, false, ari, "Trouble", "maybe\n\nretry\n", plat::kIdRetry, 3},
        {true, false, ari, "Trouble", "", plat::kIdAbort, 1},  // end of input
    };
    const std::string prompt = "[A]bort, [R]etry, [I]gnore? ";
    for (const Case& c : cases) {
        Child child = RunChild(c.terminal, c.typed, [&c] {
            if (c.quietError) dup2(open("/dev/null", O_WRONLY), 2);
            return plat::MessageBox("disk on fire", c.caption, c.style);
        });
        EXPECT_EQ(c.result, child.exitCode) << "typed: " << c.typed;
        int prompts = 0;
        for (size_t at = 0; (at = child.output.find(prompt, at)) != std::string::npos; ++at)
            ++prompts;
        EXPECT_EQ(c.prompts, prompts) << "typed: " << c.typed;
        const std::string caption = c.caption ? c.caption : "Error";  // the default
        EXPECT_EQ(c.prompts > 0, child.output.find("disk on fire") != std::string::npos);
        EXPECT_EQ(c.prompts > 0, child.output.find(caption) != std::string::npos) << caption;
    }
}

}  // namespace

// The program as a user runs it: through a pipe and on a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "file/stream.h"
#include "support/temp_dir.h"

namespace {

struct RunResult {
    std::string m_Output;
    int m_Status;
};

std::string Drain(int fd) {
    std::string output;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) output.append(chunk, n);
    return output;
}

int WaitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

[[noreturn]] void Exec(const std::vector<std::string>& args, bool noColor) {
    if (noColor) setenv("NO_COLOR", "1", 1);
    else unsetenv("NO_COLOR");
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(SEGSORTER_BIN, argv.data());
    _exit(127);
}

RunResult RunPiped(const std::vector<std::string>& args) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    fflush(stdout);  // or the child would repeat what is still buffered
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        Exec(args, false);
    }
    close(fds[1]);
    std::string output = Drain(fds[0]);
    close(fds[0]);
    return {output, WaitStatus(pid)};
}

RunResult RunOnTerminal(const std::vector<std::string>& args, bool noColor) {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) Exec(args, noColor);
    std::string output = Drain(master);  // ends with EIO once the child is gone
    close(master);
    return {output, WaitStatus(pid)};
}

const std::string kUsageLine = "Error: Usage: segsorter loaddump sortedfile [excludelist]";

TEST(CommandLine, WithoutArgumentsShowsUsageAndFails) {
    RunResult piped = RunPiped({"segsorter"});
    EXPECT_EQ(piped.m_Status, 255);
    EXPECT_EQ(piped.m_Output,
              kUsageLine + "\n" +
                  "\n       segsorter.exe groups all ::OPEN:: commands following similar \n"
                  "       ::LOADSEG:: statements together, eliminating\n"
                  "       duplicates and extra lines\n\n");

    RunResult terminal = RunOnTerminal({"segsorter"}, false);
    EXPECT_EQ(terminal.m_Status, 255);
    EXPECT_NE(terminal.m_Output.find("\x1b[91m" + kUsageLine + "\x1b[0m"), std::string::npos);
    EXPECT_NE(terminal.m_Output.find("duplicates and extra lines"), std::string::npos);

    RunResult plain = RunOnTerminal({"segsorter"}, true);
    EXPECT_EQ(plain.m_Status, 255);
    EXPECT_NE(plain.m_Output.find(kUsageLine), std::string::npos);
    EXPECT_EQ(plain.m_Output.find('\x1b'), std::string::npos);
}

TEST(CommandLine, SortsAndPrintsTheArgumentCountWithoutLineEnd) {
    TempDir dir;
    std::string dump = dir.Write("dump.txt", "::LOADSEG::(s)\n::OPEN::(a.dat)\n");
    RunResult run = RunPiped({"segsorter", dump, dir.Path("out.txt"), dir.Path("ignored")});
    EXPECT_EQ(run.m_Status, 1);
    EXPECT_EQ(run.m_Output, "argc = 4");
    EXPECT_EQ(dir.Read("out.txt"), "::LOADSEG::(s)\r\n::OPEN::(a.dat)\r\n");
}

TEST(CommandLine, OneArgumentCreatesNothing) {
    TempDir dir;
    std::string dump = dir.Write("dump.txt", "::LOADSEG::(s)\n");
    RunResult run = RunPiped({"segsorter", dump});
    EXPECT_EQ(run.m_Status, 255);
    EXPECT_EQ(run.m_Output, "argc = 2" + kUsageLine + "\n");

    RunResult missing = RunPiped({"segsorter", dir.Path("none.txt"), dir.Path("out.txt")});
    EXPECT_EQ(missing.m_Status, 255);
    EXPECT_NE(missing.m_Output.find("Error: Cannot open load dump"), std::string::npos);
    EXPECT_FALSE(dir.Exists("out.txt"));
}

TEST(ExitListing, StreamsLeftOpenAreListedAtExit) {
    TempDir dir;
    std::string name = dir.Write("left-open.txt", "x");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        Stream* s = Stream::Open(name.c_str(), true);
        exit(s ? 0 : 9);
    }
    close(fds[1]);
    std::string output = Drain(fds[0]);
    close(fds[0]);
    EXPECT_EQ(WaitStatus(pid), 0);
    EXPECT_NE(output.find("0. HANDLE="), std::string::npos);
    EXPECT_NE(output.find(" NAME=" + name + "\n"), std::string::npos);
}

}  // namespace

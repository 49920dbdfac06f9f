// Runs a program of the project as a user would, for POSIX-only tests:
// standard output and error go to files in a scratch folder, so neither pipe
// can fill and stall the run.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

struct RunResult {
    int m_Status;  // -1 when the program did not end by itself
    std::string m_Out;
    std::string m_Err;
};

// Starts the program with its outputs caught, and its input from the file
// `input` when given; args[0] is the program's name as it sees it.
inline pid_t StartProgram(const char* binary, std::vector<std::string> args, const TempDir& scratch,
                          const std::string& input = "") {
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!input.empty()) dup2(open(input.c_str(), O_RDONLY), 0);
        dup2(open(scratch.Path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open(scratch.Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(binary, argv.data());
        _exit(127);
    }
    return pid;
}

inline RunResult FinishProgram(pid_t pid, const TempDir& scratch) {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, scratch.Read("out"), scratch.Read("err")};
}

inline RunResult RunProgram(const char* binary, std::vector<std::string> args, const TempDir& scratch,
                            const std::string& input = "") {
    return FinishProgram(StartProgram(binary, std::move(args), scratch, input), scratch);
}

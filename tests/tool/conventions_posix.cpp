// segzip, loadsim and filehost share their command-line habits: help and
// version on standard output with status 0, a wrong argument named in one
// line on standard error without the usage, "--opt=value" as "--opt value",
// and "--" ending the options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/version.h"
#include "support/run_program.h"
#include "support/temp_dir.h"

namespace {

TEST(ProgramConventions, HelpVersionWrongArgumentsAndOptionForms) {
    TempDir dir;
    std::string at = dir.Path(""), version = std::string(" ") + SegsorterVersion() + "\n";
    dir.Write("a.txt", "file\n");
    std::string input = dir.Write("in", "segment s\n" + dir.Path("a.txt") + "\n");
    const struct {
        const char* m_Binary;
        std::vector<std::string> m_Args;
        int m_Status;
        std::string m_Out;  // the start of standard output; empty: nothing on it
        std::string m_Err;  // a part of standard error; empty: nothing on it
    } kCases[] = {
        {SEGZIP_BIN, {"--help"}, 0, "usage: segzip COMMAND", ""},
        {SEGZIP_BIN, {"build", "-h"}, 0, "usage: segzip build [options] SOURCEDIR OUT.zip\n", ""},
        {SEGZIP_BIN, {"list", at + "a.zip", "--help"}, 0, "usage: segzip list ", ""},
        {SEGZIP_BIN, {"--version"}, 0, "segzip" + version, ""},
        {SEGZIP_BIN, {"build", "--level", "0", at, at + "o.zip"}, 1, "", "segzip build: --level must be 1 to 9, not '0'"},
        {SEGZIP_BIN, {"layout", "--seek-ms=x", "a", "s"}, 1, "", "segzip layout: --seek-ms must be 0 to 1000000, not 'x'"},
        {SEGZIP_BIN, {"cat", "--frob", "a.zip", "m"}, 1, "", "segzip cat: unknown option '--frob'\nTry 'segzip cat --help'."},
        {SEGZIP_BIN, {"test", "--memory=yes", "a.zip"}, 1, "", "segzip test: --memory takes no value"},
        {SEGZIP_BIN, {"list", "--", "--help"}, 1, "", "Cannot mount '--help'"},
        {LOADSIM_BIN, {"-h"}, 0, "usage: loadsim ", ""},
        {LOADSIM_BIN, {"--version"}, 0, "loadsim" + version, ""},
        {LOADSIM_BIN, {"--frob", "s"}, 2, "", "loadsim: unknown option '--frob'"},
        {LOADSIM_BIN, {"--host=localhost:0", "s"}, 2, "", "loadsim: --host wants ADDRESS:PORT, not 'localhost:0'"},
        {LOADSIM_BIN, {"--names", "short", "s"}, 2, "", "loadsim: --names is plain, packed or front, not 'short'"},
        {LOADSIM_BIN, {"--", "--s"}, 2, "", "loadsim: cannot read script '--s'"},
        {LOADSIM_BIN, {"--names=packed", "-"}, 0, "::LOADSEG::(s)\n", "loadsim: 1 files, 5 bytes"},
        {FILEHOST_BIN, {"--help"}, 0, "usage: filehost ", ""},
        {FILEHOST_BIN, {"--version"}, 0, "filehost" + version, ""},
        {FILEHOST_BIN, {"-t", "86401", at, "0"}, 1, "", "filehost: --timeout must be 0 to 86400 seconds, not '86401'"},
        {FILEHOST_BIN, {"--timeout=1.5", at, "0"}, 1, "", "not '1.5'"},
        {FILEHOST_BIN, {at, "0", "--address"}, 1, "", "filehost: --address needs a value"},
        {FILEHOST_BIN, {"--", "-t", "0"}, 1, "", "filehost: '-t' is not a directory that can be served"},
        {FILEHOST_BIN, {at, "70000"}, 1, "", "filehost: '70000' is not a port number"},
    };
    for (const auto& c : kCases) {
        std::vector<std::string> args = c.m_Args;
        args.insert(args.begin(), "program");
        RunResult run = RunProgram(c.m_Binary, args, dir, input);
        SCOPED_TRACE(std::string(c.m_Binary) + " " + c.m_Args[0]);
        EXPECT_EQ(run.m_Status, c.m_Status) << run.m_Err;
        EXPECT_EQ(run.m_Out.substr(0, c.m_Out.size()), c.m_Out);
        EXPECT_EQ(run.m_Out.empty(), c.m_Out.empty()) << run.m_Out;
        if (c.m_Err.empty()) EXPECT_EQ(run.m_Err, "");
        else EXPECT_NE(run.m_Err.find(c.m_Err), std::string::npos) << run.m_Err;
        EXPECT_EQ(run.m_Err.find("usage"), std::string::npos) << run.m_Err;
    }
}

}  // namespace

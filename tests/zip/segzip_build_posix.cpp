// segzip build and layout as a user runs them: archives in load order that
// unzip and Python's zipfile accept and every name mode serves, sorted files
// read as the tool wrote them, refusals and interruptions that leave nothing,
// and layout's figures on a case worked out by hand.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/zip_writer.h"

// Sanitizers reserve more address space than any memory limit allows.
#ifndef SEGSORTER_SANITIZED
#define SEGSORTER_SANITIZED 0
#endif

namespace {

class SegzipBuild : public ::testing::Test {
protected:
    RunResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), "segzip");
        return RunProgram(SEGZIP_BIN, args, m_Dir);
    }

    // A file of the scratch folder, its folders made as needed.
    std::string Put(const std::string& name, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(m_Dir.Path(name)).parent_path());
        return m_Dir.Write(name, bytes);
    }

    int Shell(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

    // A command's standard output.
    std::string ShellOut(const std::string& command) {
        EXPECT_EQ(system((command + " >" + m_Dir.Path("shell.out") + " 2>/dev/null").c_str()), 0) << command;
        return m_Dir.Read("shell.out");
    }

    // Runs segzip as Run does, but sends it `signal` once `part` exists.
    RunResult RunSignalled(std::vector<std::string> args, const std::string& part, int signal) {
        args.insert(args.begin(), "segzip");
        pid_t pid = StartProgram(SEGZIP_BIN, args, m_Dir);
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!std::filesystem::exists(part) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        kill(pid, signal);
        return FinishProgram(pid, m_Dir);
    }

    // The members' names as `list` gives them.
    std::set<std::string> Members(const std::string& archive) {
        std::istringstream lines(Run({"list", archive}).m_Out);
        std::set<std::string> names;
        for (std::string name; std::getline(lines, name);) names.insert(name);
        return names;
    }

    // Members of `list -l` by offset: their names in archive order, and
    // whether each stored one starts on a sector.
    std::vector<std::string> ArchiveOrder(const std::string& archive, bool* aligned) {
        std::istringstream lines(Run({"list", "-l", archive}).m_Out);
        std::vector<std::pair<long, std::string>> members;
        long size, stored, offset;
        std::string sector, name;
        *aligned = true;
        while (lines >> size >> stored >> offset >> sector >> name) {
            members.emplace_back(offset, name);
            if (size == stored && sector == "-") *aligned = false;
        }
        std::sort(members.begin(), members.end());
        std::vector<std::string> names;
        for (auto& m : members) names.push_back(m.second);
        return names;
    }

    TempDir m_Dir;
};

const std::map<std::string, std::string> kTree = {
    {"config/startup.cfg", std::string(3000, 'c')}, {"ui/fonts/Main.fnt", std::string(9000, 'f')},
    {"ui/menu/title.tex", "title\n"},  {"levels/city/geometry.bin", std::string(20000, 'g')},
    {"audio/theme.ogg", std::string(5000, 'o')}, {"shared/sky.tex", std::string(7000, 's')},
    {"extra/unused.txt", "never opened\n"}, {"Alpha.txt", std::string(4000, 'a')},
};

// Two spellings of one file, a file that two segments open, and a name
// that is not in the tree (twice).
const char kSorted[] =
    "::LOADSEG::(default)\r\n::OPEN::(config\\startup.cfg)\r\n"
    "::LOADSEG::(frontend)\r\n::OPEN::(UI\\FONTS\\main.fnt)\r\n::OPEN::(ui\\menu\\title.tex)\r\n"
    "::OPEN::(gone.dat)\r\n::OPEN::(audio\\theme.ogg)\r\n"
    "::LOADSEG::(city)\r\n::OPEN::(levels\\city\\geometry.bin)\r\n::OPEN::(shared\\sky.tex)\r\n"
    "::OPEN::(ui/fonts/Main.fnt)\r\n::OPEN::(gone.dat)\r\n";

TEST_F(SegzipBuild, ArchivesInLoadOrderThatEveryReaderServes) {
    for (const auto& file : kTree) Put("tree/" + file.first, file.second);
    std::string sorted = m_Dir.Write("load.sorted", kSorted), tree = m_Dir.Path("tree");
    const std::vector<std::string> kLoadOrder = {"config/startup.cfg", "ui/fonts/Main.fnt", "ui/menu/title.tex",
                                                 "audio/theme.ogg", "levels/city/geometry.bin", "shared/sky.tex",
                                                 "Alpha.txt", "extra/unused.txt"};
    const std::vector<std::string> kNameOrder = {"Alpha.txt", "audio/theme.ogg", "config/startup.cfg",
                                                 "extra/unused.txt", "levels/city/geometry.bin", "shared/sky.tex",
                                                 "ui/fonts/Main.fnt", "ui/menu/title.tex"};
    struct Build {
        std::vector<std::string> m_Options;
        const std::vector<std::string>* m_Order;
        bool m_Aligned;
    };
    const Build kBuilds[] = {
        {{"--names-from", sorted, "--store", "*.OGG", "--store", "shared/*"}, &kLoadOrder, true},
        {{"--level", "1"}, &kNameOrder, true},
        {{"--store", "*", "--align", "none"}, &kNameOrder, false},
    };
    for (const Build& b : kBuilds) {
        std::string archive = m_Dir.Path("out.zip");
        std::vector<std::string> args = {"build"};
        args.insert(args.end(), b.m_Options.begin(), b.m_Options.end());
        args.insert(args.end(), {tree, archive});
        SCOPED_TRACE(args[1]);
        RunResult build = Run(args);
        ASSERT_EQ(build.m_Status, 0) << build.m_Err;
        EXPECT_EQ(build.m_Err.find("gone.dat") != std::string::npos, b.m_Order == &kLoadOrder) << build.m_Err;
        EXPECT_EQ(build.m_Err.find("gone.dat"), build.m_Err.rfind("gone.dat")) << "warned once";
        bool aligned = false;
        EXPECT_EQ(ArchiveOrder(archive, &aligned), *b.m_Order);
        EXPECT_EQ(aligned, b.m_Aligned);
        EXPECT_EQ(Shell("unzip -tq " + archive), 0);
        EXPECT_EQ(Shell(std::string(PYTHON3_BIN) + " -c \"import sys, zipfile; "
                        "sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" " + archive), 0);
        for (const char* mode : {"plain", "packed", "front"}) {
            std::vector<std::string> cat = {"cat", "--names", mode, archive};
            std::string all;
            for (const auto& file : kTree) cat.push_back(file.first), all += file.second;
            RunResult read = Run(cat);
            EXPECT_EQ(read.m_Status, 0) << mode << read.m_Err;
            EXPECT_TRUE(read.m_Out == all) << mode;
        }
    }
}

TEST_F(SegzipBuild, FailuresSayWhyAndLeaveNothing) {
    Put("tree/a.txt", "a");
    Put("long/" + std::string(200, 'd') + "/" + std::string(60, 'n'), "x");
    Put("odd/one+two.txt", "plus");
    Put("twins/Read.me", "1");
    Put("twins/read.ME", "2");
    // Sparse: members the zip layer could not serve, refused unread.
    Put("huge2/a.txt", "a");
    std::filesystem::resize_file(Put("huge2/big.bin", ""), 1ull << 31);
    std::filesystem::resize_file(Put("huge4/big.bin", ""), 0xFFFFFFFFull);
    struct Case {
        std::vector<std::string> m_Args;  // '@' stands for the scratch folder
        int m_Status;
        const char* m_Err;
        const char* m_Out;  // the archive that must not be there afterwards (or must be)
    };
    const Case kCases[] = {
        {{"build", "@nothere", "@new.zip"}, 1, "Cannot read source folder '@nothere'", "new.zip"},
        {{"build", "@tree", "@none/new.zip"}, 1, "Cannot build '@none/new.zip': cannot create", "none"},
        {{"build", "@long", "@new.zip"}, 1, "is longer than 255 characters", "new.zip"},
        {{"build", "@twins", "@new.zip"}, 1, "differ only in letter case or separators", "new.zip"},
        {{"build", "@huge2", "@new.zip"}, 1, "'big.bin' is 2 GiB or more; archive members must be smaller", "new.zip"},
        {{"build", "@huge4", "@new.zip"}, 1, "'big.bin' is 2 GiB or more; archive members must be smaller", "new.zip"},
        {{"build", "--names-from", "@missing.sorted", "@tree", "@new.zip"}, 1, "Cannot open sorted file", "new.zip"},
        {{"build", "--level", "0", "@tree", "@new.zip"}, 1, "build: --level must be 1 to 9, not '0'", "new.zip"},
        {{"build", "--align=4096", "@tree", "@new.zip"}, 1, "--align must be 2048 or none, not '4096'", "new.zip"},
        {{"build", "@tree"}, 1, "build: wants SOURCEDIR OUT.zip, not 1 operand", "new.zip"},
        {{"build", "@tree", "-"}, 1, "OUT.zip cannot be '-': a zip needs a seekable file", "new.zip"},
        {{"build", "--relative-to", "@long", "@tree", "@new.zip"}, 1, "'@tree' is not inside '@long'", "new.zip"},
        {{"layout", "--mbps", "0", "@a.zip", "@s"}, 1, "--mbps must be 0.001 to 1000000, not '0'", "new.zip"},
        {{"layout", "@nothere.zip", "@missing.sorted"}, 1, "Cannot open sorted file", "new.zip"},
    };
    auto expand = [this](std::string text) {
        for (size_t at = 0; (at = text.find('@', at)) != std::string::npos; at += m_Dir.Path("").size())
            text.replace(at, 1, m_Dir.Path(""));
        return text;
    };
    for (const Case& c : kCases) {
        std::vector<std::string> args;
        for (const std::string& a : c.m_Args) args.push_back(expand(a));
        SCOPED_TRACE(args[1]);
        RunResult run = Run(args);
        EXPECT_EQ(run.m_Status, c.m_Status);
        EXPECT_NE(run.m_Err.find(expand(c.m_Err)), std::string::npos) << run.m_Err;
        EXPECT_FALSE(m_Dir.Exists(c.m_Out));
        EXPECT_FALSE(m_Dir.Exists("new.zip.part"));
    }
    RunResult odd = Run({"build", m_Dir.Path("odd"), m_Dir.Path("odd.zip")});
    EXPECT_EQ(odd.m_Status, 0);
    EXPECT_NE(odd.m_Err.find("'one+two.txt' cannot be packed"), std::string::npos) << odd.m_Err;
}

// Stored members placed by hand (data offset, length):
//   a 2048+1000  b 4096+3000  d 8192+100  e 73828+10  f 139375+10  c 200000+10
// s1 reads a, b (1048 bytes on from a: read through), c (192,904 on: a seek):
//   2 seeks, 4010 bytes, 5058 read, sectors 1 to 97.
// s2 reads d, e (exactly 64 KB on: read through), f (64 KB + 1 on: a seek),
//   a (behind: a seek), and a file the archive lacks: 3 seeks, 4 files, 1120
//   bytes, 66,656 read, sectors 1 to 68.
// s3 names only the missing file. At 10 ms a seek and 1 MB/s: s1 20 +
// 4.82 ms, s2 30 + 63.57 ms.
TEST_F(SegzipBuild, LayoutCountsSeeksAndSpansAsWorkedOut) {
    std::vector<ZipMember> members;
    for (auto [name, at, length] : {std::make_tuple("a.bin", 2048, 1000), std::make_tuple("b.bin", 4096, 3000),
                                    std::make_tuple("d.bin", 8192, 100), std::make_tuple("e.bin", 73828, 10),
                                    std::make_tuple("f.bin", 139375, 10), std::make_tuple("c.bin", 200000, 10)})
        members.push_back(ZipMember{name, std::string(length, 'x'), false, static_cast<uint32_t>(at)});
    std::string archive = m_Dir.Write("hand.zip", BuildZip(members));
    std::string sorted = m_Dir.Write("hand.sorted",
                                     "::LOADSEG::(s1)\r\n::OPEN::(a.bin)\r\n::OPEN::(B.BIN)\r\n::OPEN::(c.bin)\r\n"
                                     "::LOADSEG::(s2)\r\n::OPEN::(d.bin)\r\n::OPEN::(e.bin)\r\n::OPEN::(f.bin)\r\n"
                                     "::OPEN::(a.bin)\r\n::OPEN::(missing.bin)\r\n::LOADSEG::(s\xe9" "3)\r\n"
                                     "::OPEN::(missing.bin)\r\n");
    RunResult run = Run({"layout", "--seek-ms", "10", "--mbps=1", "--svg", m_Dir.Path("hand.svg"), archive, sorted});
    ASSERT_EQ(run.m_Status, 0) << run.m_Err;
    std::istringstream lines(run.m_Out);
    std::string line, rows;
    std::getline(lines, line);
    EXPECT_NE(line.find("10 ms a seek, 1 MB/s"), std::string::npos) << line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        for (std::string word; words >> word;) rows += word + " ";
        rows += "\n";
    }
    EXPECT_EQ(rows,
              "3 4010 2 97 24.8 s1 \n"
              "4 1120 3 68 93.6 s2 \n"
              "0 0 0 0 0.0 s\xe9" "3 \n"
              "7 5130 5 165 118.4 total \n");
    EXPECT_NE(run.m_Err.find("2 files of"), std::string::npos) << run.m_Err;
    std::string svg = m_Dir.Read("hand.svg"), size = std::to_string(std::filesystem::file_size(archive));
    auto count = [&svg](const std::string& part) {
        size_t found = 0;
        for (size_t at = 0; (at = svg.find(part, at)) != std::string::npos; ++at) ++found;
        return found;
    };
    EXPECT_EQ(count(size.insert(size.size() - 3, ",") + " bytes (0.19 MB), 6 members</text>"), 1u) << svg;
    EXPECT_EQ(count("</title></rect>"), 7u) << "every read can be pointed at";
    EXPECT_EQ(count("class=\"mark\""), 5u + 1) << "each seek marked, and the legend's";
    size_t reread =
        svg.find("<title>a.bin\noffset 2048, 1000 bytes\nread 4 of 4 in s2, after a seek\nread before by s1<");
    ASSERT_NE(reread, std::string::npos) << svg;
    EXPECT_EQ(svg.substr(svg.rfind("<rect", reread), 21), "<rect class=\"earlier\"");
    EXPECT_EQ(svg.find('\xe9'), std::string::npos) << "a byte that is not UTF-8 is not XML";
    for (const char* part : {">s2</text>", ">s&#xE9;3</text>", ">4 files (1 missing), 3 seeks<", ">1 to files read before, 1 back<",
                             ">read before by an earlier segment<", ">gap over 64 KB, cut<"})
        EXPECT_EQ(count(part), 1u) << part;
    RunResult piped = Run({"layout", "--seek-ms", "10", "--mbps=1", "--svg", "-", archive, sorted});
    EXPECT_EQ(piped.m_Out, svg);
    EXPECT_NE(piped.m_Err.find(run.m_Out), std::string::npos) << "the table, to standard error: " << piped.m_Err;
}

// Ctrl-C, a terminal closing and a polite kill remove the .part; a build
// killed outright leaves it, and the next build of the same tree (its
// archive inside) replaces it rather than packing it, nor its own archive.
TEST_F(SegzipBuild, InterruptedBuildsLeaveNothingAndPartsAreNeverPacked) {
    std::string text;
    for (int64_t i = 0; text.size() < (32 << 20); ++i)
        text += "spawn " + std::to_string(i * 7919 % 100003) + " at dawn\n";
    Put("tree/level.txt", text);
    Put("tree/ui/font.fnt", "font");
    std::string tree = m_Dir.Path("tree"), out = m_Dir.Path("tree/game.zip");
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(signal);
        RunResult run = RunSignalled({"build", tree, out}, out + ".part", signal);
        EXPECT_FALSE(m_Dir.Exists("tree/game.zip"));
        if (signal == SIGKILL) {
            EXPECT_EQ(run.m_Status, -1);
            EXPECT_TRUE(m_Dir.Exists("tree/game.zip.part"));
            continue;
        }
        EXPECT_EQ(run.m_Status, 1);
        EXPECT_NE(run.m_Err.find("Cannot build '" + out + "': interrupted"), std::string::npos) << run.m_Err;
        EXPECT_FALSE(m_Dir.Exists("tree/game.zip.part"));
    }
    for (int round = 0; round < 2; ++round) {  // the second with the archive of the first in the tree
        RunResult build = Run({"build", "--level", "1", tree, out});
        ASSERT_EQ(build.m_Status, 0) << build.m_Err;
        EXPECT_EQ(Members(out), (std::set<std::string>{"level.txt", "ui/font.fnt"}));
        EXPECT_FALSE(m_Dir.Exists("tree/game.zip.part"));
    }
}

// Members named as a dump names them, from a folder below the game's own;
// the link to /proc/self/mem, whose reads fail, is excluded and so never
// read, nor reported as a link outside, and an excluded folder is not walked
// at all. The archive, written inside, is not packed either time.
TEST_F(SegzipBuild, ExcludedFilesStayUnreadAndNamesAreRelativeToTheGivenFolder) {
    Put("game/data/ui/menu.txt", "menu\n");
    Put("game/data/level.bak", "old\n");
    Put("game/data/cache/x.bin", "x");
    Put("game/other.txt", "outside SOURCEDIR");
    ASSERT_EQ(symlink("/proc/self/mem", m_Dir.Path("game/data/mem.BAK").c_str()), 0);
    std::string archive = m_Dir.Path("game/data/out.zip");
    for (int round = 0; round < 2; ++round) {
        RunResult build = Run({"build", "--exclude", "*.bak", "--exclude=data/cache", "--relative-to",
                               m_Dir.Path("game"), m_Dir.Path("game/data"), archive});
        ASSERT_EQ(build.m_Status, 0) << build.m_Err;
        EXPECT_EQ(build.m_Err, "");
        EXPECT_EQ(Members(archive), (std::set<std::string>{"data/ui/menu.txt"}));
    }
}

// Links to files are followed wherever they lead, as zip -r does; what came
// from outside and what was passed over are told in one line. A name past
// ASCII reaches unzip as UTF-8.
TEST_F(SegzipBuild, TreeEntriesAreToldInOneLineAndNamesReachUnzipIntact) {
    Put("tree/Caf\xc3\xa9.tex", "menu\n");
    Put("tree/sub/in.txt", "inside\n");
    Put("elsewhere/o.txt", "from outside\n");
    const std::pair<const char*, const char*> kLinks[] = {
        {"../elsewhere/o.txt", "tree/olink"}, {"sub", "tree/dirlink"}, {"nowhere", "tree/broken"},
        {"sub/in.txt", "tree/inlink"}};
    for (const auto& [target, link] : kLinks) ASSERT_EQ(symlink(target, m_Dir.Path(link).c_str()), 0) << link;
    std::string archive = m_Dir.Path("tree.zip");
    RunResult build = Run({"build", m_Dir.Path("tree"), archive});
    ASSERT_EQ(build.m_Status, 0) << build.m_Err;
    std::istringstream lines(build.m_Err);
    std::vector<std::string> told;
    for (std::string line; std::getline(lines, line);)
        if (line.find("link") != std::string::npos) told.push_back(line);
    ASSERT_EQ(told.size(), 1u) << build.m_Err;
    for (const char* part :
         {"followed 1 link to a file outside", "'olink'", "skipped 2 entries", "'dirlink'", "'broken'"})
        EXPECT_NE(told[0].find(part), std::string::npos) << part << " in " << told[0];
    EXPECT_EQ(Run({"cat", archive, "olink"}).m_Out, "from outside\n");
    EXPECT_EQ(ShellOut("LC_ALL=C.UTF-8 unzip -Z1 " + archive), "Caf\xc3\xa9.tex\ninlink\nolink\nsub/in.txt\n");
    EXPECT_NE(ShellOut("LC_ALL=C.UTF-8 unzip -l " + archive).find("Caf\xc3\xa9.tex"), std::string::npos);
}

// However little memory a build is given, it ends with an archive or with
// its reason and nothing left, never an abort; and a member larger than the
// memory it is given streams through.
TEST_F(SegzipBuild, NoMemoryLimitMakesABuildAbort) {
    if (SEGSORTER_SANITIZED) GTEST_SKIP() << "sanitizers reserve more address space than the limits";
    std::filesystem::resize_file(Put("tree/big.bin", ""), 48 << 20);
    Put("tree/small.txt", "small\n");
    std::string archive = m_Dir.Path("out.zip");
    int32_t outOfMemory = 0;
    RunResult run;
    for (int32_t megabytes : {8, 10, 12, 16, 24, 40}) {
        SCOPED_TRACE(megabytes);
        std::filesystem::remove(archive);
        std::string command = "ulimit -v " + std::to_string(megabytes * 1024) + "; exec " + SEGZIP_BIN +
                              " build --level 1 " + m_Dir.Path("tree") + " " + archive;
        run = RunProgram("/bin/sh", {"sh", "-c", command}, m_Dir);
        // Too little to load the program at all, or for its runtime to start
        // (which then aborts before any of its code runs).
        if (run.m_Status == 127 || (run.m_Status == -1 && run.m_Err.rfind("terminate called", 0) == 0)) continue;
        ASSERT_TRUE(run.m_Status == 0 || run.m_Status == 1) << run.m_Status << run.m_Err;
        EXPECT_FALSE(m_Dir.Exists("out.zip.part"));
        if (run.m_Status == 0) {
            EXPECT_EQ(Run({"test", archive}).m_Status, 0);
            continue;
        }
        EXPECT_NE(run.m_Err.find("out of memory"), std::string::npos) << run.m_Err;
        EXPECT_FALSE(m_Dir.Exists("out.zip"));
        ++outOfMemory;
    }
    EXPECT_EQ(run.m_Status, 0) << run.m_Err;
    EXPECT_GT(outOfMemory, 0);
}

// A dump through segsorter into build --names-from: names of one or two
// characters and a name that still begins with "$/" come through; a name
// cut at its ')' is told as such, the missing ones in one line, and a sorted
// file that names nothing is warned about by build and layout.
TEST_F(SegzipBuild, SortedFilesAreReadAsTheToolWroteThem) {
    for (const char* name : {"ab", "x", "$/x", "zz.dat", "maps/a(1).tex", "maps/b.tex", "other.txt"})
        Put(std::string("tree/") + name, name);
    m_Dir.Write("game.dump",
                "::LOADSEG::(boot)\r\n::OPEN::($/ab)    // 0ms\r\n::OPEN::(maps\\b.tex)\r\n"
                "::OPEN::(maps\\a(1).tex)    // 1ms\r\n::OPEN::(gone1)\r\n::OPEN::(gone2)\r\n::OPEN::(gone3)\r\n"
                "::OPEN::(gone4)\r\n::LOADSEG::(level)\r\n::OPEN::($/ab)\r\n::OPEN::($/$/x)\r\n::OPEN::(zz.dat)\r\n");
    ASSERT_EQ(system((std::string(SEGSORTER_BIN) + " " + m_Dir.Path("game.dump") + " " + m_Dir.Path("game.sorted") +
                      " >/dev/null")
                         .c_str()),
              256) << "segsorter ends with status 1 when done";
    std::string archive = m_Dir.Path("game.zip");
    RunResult build = Run({"build", "--names-from", m_Dir.Path("game.sorted"), m_Dir.Path("tree"), archive});
    ASSERT_EQ(build.m_Status, 0) << build.m_Err;
    bool aligned = false;
    EXPECT_EQ(ArchiveOrder(archive, &aligned), (std::vector<std::string>{"ab", "maps/b.tex", "$/x", "zz.dat",
                                                                         "maps/a(1).tex", "other.txt", "x"}));
    EXPECT_NE(build.m_Err.find("4 names in '" + m_Dir.Path("game.sorted") + "' are not under '" + m_Dir.Path("tree") +
                               "' and left out: 'gone1', 'gone2', 'gone3' and 1 more"),
              std::string::npos)
        << build.m_Err;
    EXPECT_EQ(build.m_Err.find("gone4"), std::string::npos) << "one line, not one per name";
    EXPECT_NE(build.m_Err.find("'maps\\a(1' for 'maps/a(1).tex'): names holding ')' cannot cross a load dump"),
              std::string::npos)
        << build.m_Err;
    std::string empty = m_Dir.Write("empty.sorted", "::LOADSEG::(boot)\r\n");
    using Args = std::vector<std::string>;
    for (const Args& args : {Args{"build", "--names-from", empty, m_Dir.Path("tree"), archive},
                             Args{"layout", archive, empty}}) {
        RunResult run = Run(args);
        EXPECT_EQ(run.m_Status, 0) << run.m_Err;
        EXPECT_NE(run.m_Err.find("Sorted file '" + empty + "' names no files"), std::string::npos) << args[0];
    }
}

}  // namespace

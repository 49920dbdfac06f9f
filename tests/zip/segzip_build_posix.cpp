// segzip build and layout as a user runs them: archives in load order that
// unzip and Python's zipfile accept and every name mode serves, refusals that
// leave nothing, and layout's figures on a case worked out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "support/zip_writer.h"

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
        {{"build", "--names-from", "@missing.sorted", "@tree", "@new.zip"}, 1, "Cannot open sorted file", "new.zip"},
        {{"build", "--level", "0", "@tree", "@new.zip"}, 1, "usage:", "new.zip"},
        {{"build", "--align", "4096", "@tree", "@new.zip"}, 1, "usage:", "new.zip"},
        {{"build", "@tree"}, 1, "usage:", "new.zip"},
        {{"layout", "--mbps", "0", "@a.zip", "@s"}, 1, "usage:", "new.zip"},
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
                                     "::OPEN::(a.bin)\r\n::OPEN::(missing.bin)\r\n::LOADSEG::(s3)\r\n"
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
              "0 0 0 0 0.0 s3 \n"
              "7 5130 5 165 118.4 total \n");
    EXPECT_NE(run.m_Err.find("2 files of"), std::string::npos) << run.m_Err;
    std::string svg = m_Dir.Read("hand.svg");
    size_t extents = 0;
    for (size_t at = 0; (at = svg.find("#1f5fa8", at)) != std::string::npos; ++at) ++extents;
    EXPECT_EQ(extents, 7u);
    EXPECT_NE(svg.find(">s2</text>"), std::string::npos);
}

}  // namespace

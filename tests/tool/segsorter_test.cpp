#include "tool/segsorter.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "file/stream.h"
#include "support/capture_system.h"
#include "support/memory_device.h"
#include "support/temp_dir.h"
#include "tool/names.h"
#include "tool/resources.h"

namespace {

// The tool's resources, limited: every block from the Nth request on is
// refused, and threads too when told. What is handed out is counted, so that
// a block kept after a run shows.
struct Limits {
    int m_FailFrom = 0;  // 1-based; 0 never
    bool m_NoThreads = false;
    int m_Requests = 0;
    size_t m_Outstanding = 0;
};
Limits s_Limits;

void* LimitedAllocate(size_t bytes) {
    if (++s_Limits.m_Requests >= s_Limits.m_FailFrom && s_Limits.m_FailFrom > 0) return nullptr;
    void* block = s_SystemResources.Allocate(bytes);
    if (block) s_Limits.m_Outstanding += bytes;
    return block;
}

void LimitedFree(void* block, size_t bytes) {
    if (block) s_Limits.m_Outstanding -= bytes;
    s_SystemResources.Free(block, bytes);
}

bool LimitedStart(std::thread* thread, void (*run)(void*), void* context) {
    return !s_Limits.m_NoThreads && s_SystemResources.StartThread(thread, run, context);
}

const ToolResources kLimited = {LimitedAllocate, LimitedFree, LimitedStart};

class SegsorterTest : public ::testing::Test {
protected:
    void TearDown() override {
        s_ReadDevice = s_WriteDevice = &LocalDevice.m_Device;
        s_FaultPlan = FaultPlan();
        s_ToolResources = &s_SystemResources;
    }

    // Runs a dump through the tool and returns the sorted file, or "<failed>".
    std::string Sort(const std::string& dump) {
        std::string in = m_Dir.Write("dump.txt", dump);
        if (ProcessDump(in.c_str(), m_Dir.Path("sorted.txt").c_str(), nullptr) != 1)
            return "<failed>";
        return m_Dir.Read("sorted.txt");
    }

    TempDir m_Dir;
    CaptureSystem m_System;
};

TEST_F(SegsorterTest, WorkedExampleReproducesByteForByte) {
    TempDir dir;
    std::string dump = EXAMPLES_DIR "/worked.dump";
    std::string sorted = dir.Path("worked.sorted");
    ASSERT_EQ(ProcessDump(dump.c_str(), sorted.c_str(), nullptr), 1);
    std::ifstream want(EXAMPLES_DIR "/worked.sorted", std::ios::binary);
    std::string wanted((std::istreambuf_iterator<char>(want)), {});
    ASSERT_FALSE(wanted.empty());
    EXPECT_EQ(dir.Read("worked.sorted"), wanted);
}

TEST_F(SegsorterTest, RecordsAreRecognisedByKeywordWhateverTheirCase) {
    EXPECT_EQ(Sort(""), "");
    EXPECT_EQ(Sort("loading\nnothing here at all\n"), "");
    EXPECT_EQ(Sort("::open::(a.dat)\n"), "::LOADSEG::(default)\r\n::OPEN::(a.dat)\r\n");
    EXPECT_EQ(Sort("::LoAdSeG::(x)\n::OpEn::(file)\n"), "::LOADSEG::(x)\r\n::OPEN::(file)\r\n");
    // Whatever follows the ')' is ignored, carriage returns and comments included.
    EXPECT_EQ(Sort("::LOADSEG::(s)\r\n::OPEN::(a.dat)   // 3ms\r\n"),
              "::LOADSEG::(s)\r\n::OPEN::(a.dat)\r\n");
    // A later LOADSEG named default returns to the implicit segment.
    EXPECT_EQ(Sort("::OPEN::(one)\n::LOADSEG::(s)\n::LOADSEG::(DEFAULT)\n::OPEN::(two)\n"),
              "::LOADSEG::(default)\r\n::OPEN::(one)\r\n::OPEN::(two)\r\n::LOADSEG::(s)\r\n");
}

TEST_F(SegsorterTest, NamesCloseAtTheFirstParenthesisFromTheThirteenthCharacter) {
    EXPECT_EQ(Sort("::LOADSEG::(s)\n::OPEN::(ab)\n::OPEN::(a)\n::OPEN::(abc)\n"),
              "::LOADSEG::(s)\r\n::OPEN::(abc)\r\n");
    EXPECT_EQ(Sort("::LOADSEG::(s)\n::OPEN::(a)b)\n"), "::LOADSEG::(s)\r\n::OPEN::(a)b)\r\n");
    EXPECT_EQ(Sort("::LOADSEG::(a)b)\n"), "::LOADSEG::(a)\r\n");
    // A ')' just before the thirteenth character does not count, nor does a '(' after it.
    EXPECT_EQ(Sort("::LOADSEG::(s)\n::OPEN::(ab)(cd)\n"), "::LOADSEG::(s)\r\n::OPEN::(ab)(cd)\r\n");
    // A keyword with no closing parenthesis far enough in is not a record.
    EXPECT_EQ(Sort("::LOADSEG::(x\n::LOADSEG::(seg\n::OPEN::(file.dat\n"), "");
    // The character after the keyword is skipped without being looked at.
    EXPECT_EQ(Sort("::LOADSEG::[s)\n::OPEN::<file)\n"), "::LOADSEG::(s)\r\n::OPEN::(file)\r\n");
}

TEST_F(SegsorterTest, OnlyOpenNamesLoseALeadingDollarSeparator) {
    EXPECT_EQ(Sort("::LOADSEG::($\\s)\n::OPEN::($/x.dat)\n::OPEN::($\\y.dat)\n::OPEN::($z.dat)\n"),
              "::LOADSEG::($\\s)\r\n::OPEN::(x.dat)\r\n::OPEN::(y.dat)\r\n::OPEN::($z.dat)\r\n");
    // After stripping, the two spellings are the same file.
    EXPECT_EQ(Sort("::LOADSEG::(s)\n::OPEN::($\\x.dat)\n::OPEN::(X.DAT)\n"),
              "::LOADSEG::(s)\r\n::OPEN::(x.dat)\r\n");
}

// A dump with no record at all still sorts, to an empty file with success,
// but not silently: a prefix before every record looks just like that.
TEST_F(SegsorterTest, ADumpWithoutRecordsIsWarnedAbout) {
    const std::string kWarning = "Warning: Load dump '" + m_Dir.Path("dump.txt") +
                                 "' holds no ::LOADSEG:: or ::OPEN:: records";
    EXPECT_EQ(Sort("12:00:01 ::LOADSEG::(s)\n12:00:02 ::OPEN::(a.dat)\n::OPEN::(ab)\n"), "");
    EXPECT_NE(m_System.m_Console.find(kWarning), std::string::npos) << m_System.m_Console;
    m_System.m_Console.clear();
    EXPECT_EQ(Sort("::LOADSEG::(s)\n"), "::LOADSEG::(s)\r\n");
    EXPECT_EQ(Sort("::OPEN::(abc)\n"), "::LOADSEG::(default)\r\n::OPEN::(abc)\r\n");
    EXPECT_EQ(m_System.m_Console, "");
}

TEST_F(SegsorterTest, GroupingIgnoresAsciiCaseAndKeepsTheFirstSpelling) {
    EXPECT_EQ(Sort("::LOADSEG::(Intro)\n::OPEN::(A.dat)\n::LOADSEG::(level)\n"
                   "::LOADSEG::(INTRO)\n::OPEN::(a.DAT)\n::OPEN::(b.dat)\n"),
              "::LOADSEG::(Intro)\r\n::OPEN::(A.dat)\r\n::OPEN::(b.dat)\r\n::LOADSEG::(level)\r\n");
    // Bytes above 127 are not letters: they never fold.
    EXPECT_EQ(Sort("::LOADSEG::(s)\n::OPEN::(caf\xE9.dat)\n::OPEN::(CAF\xC9.dat)\n"),
              "::LOADSEG::(s)\r\n::OPEN::(caf\xE9.dat)\r\n::OPEN::(CAF\xC9.dat)\r\n");
}

TEST_F(SegsorterTest, SharedFilesAreNotedCaseSensitivelyInListOrder) {
    EXPECT_EQ(Sort("::LOADSEG::(intro)\n::OPEN::(x.dat)\n::OPEN::(y.dat)\n"
                   "::LOADSEG::(level1)\n::OPEN::(x.dat)\n::OPEN::(Y.dat)\n"
                   "::LOADSEG::(level2)\n::OPEN::(x.dat)\n"),
              "::LOADSEG::(intro)\r\n"
              "::OPEN::(x.dat)  // DupSeg level1  // DupSeg level2\r\n"
              "::OPEN::(y.dat)\r\n"
              "::LOADSEG::(level1)\r\n"
              "::OPEN::(x.dat)  // DupSeg intro  // DupSeg level2\r\n"
              "::OPEN::(Y.dat)\r\n"
              "::LOADSEG::(level2)\r\n"
              "::OPEN::(x.dat)  // DupSeg intro  // DupSeg level1\r\n");
    // A segment without files is a header alone.
    EXPECT_EQ(Sort("::LOADSEG::(empty)\n::LOADSEG::(s)\n::OPEN::(f.dat)\n"),
              "::LOADSEG::(empty)\r\n::LOADSEG::(s)\r\n::OPEN::(f.dat)\r\n");
}

// Two play-throughs' dumps, one after the other, sort as one: a segment of
// both keeps the first run's order and gains the second's new files. The
// second run starts with "default" again, or its first opens would join the
// first run's last segment.
TEST_F(SegsorterTest, ConcatenatedPlayThroughsSortIntoOneOrder) {
    const std::string kFirst =
        "::OPEN::(boot.cfg)    // 0ms\r\n::LOADSEG::(frontend)\r\n::OPEN::(ui\\menu.tex)\r\n::OPEN::(ui\\font.fnt)\r\n"
        "::LOADSEG::(city)\r\n::OPEN::(city\\geo.bin)\r\n::OPEN::(city\\sky.tex)\r\n";
    const std::string kSecond =
        "::LOADSEG::(default)\r\n::OPEN::(boot.cfg)\r\n::OPEN::(input.cfg)\r\n::LOADSEG::(City)\r\n"
        "::OPEN::(city\\sky.tex)\r\n::OPEN::(city\\car.bin)\r\n::OPEN::(CITY\\GEO.BIN)\r\n::LOADSEG::(desert)\r\n"
        "::OPEN::(ui\\font.fnt)\r\n::LOADSEG::(frontend)\r\n::OPEN::(ui\\options.tex)\r\n";
    EXPECT_EQ(Sort(kFirst + kSecond),
              "::LOADSEG::(default)\r\n::OPEN::(boot.cfg)\r\n::OPEN::(input.cfg)\r\n"
              "::LOADSEG::(frontend)\r\n::OPEN::(ui\\menu.tex)\r\n::OPEN::(ui\\font.fnt)  // DupSeg desert\r\n"
              "::OPEN::(ui\\options.tex)\r\n"
              "::LOADSEG::(city)\r\n::OPEN::(city\\geo.bin)\r\n::OPEN::(city\\sky.tex)\r\n::OPEN::(city\\car.bin)\r\n"
              "::LOADSEG::(desert)\r\n::OPEN::(ui\\font.fnt)  // DupSeg frontend\r\n");
}

TEST_F(SegsorterTest, LongLinesArriveInPiecesAndLongNamesAreWrittenWhole) {
    // The first 4095 bytes hold no ')'; the rest of the line is a record of its own.
    std::string piece = "::OPEN::(" + std::string(4095 - 9, 'x');
    EXPECT_EQ(Sort("::LOADSEG::(s)\n" + piece + "::OPEN::(tail.dat)\n"),
              "::LOADSEG::(s)\r\n::OPEN::(tail.dat)\r\n");

    std::string segment(4000, 'S');
    std::string file(4000, 'f');
    std::string sorted =
        Sort("::LOADSEG::(" + segment + ")\n::OPEN::(" + file + ")\n::LOADSEG::(b)\n::OPEN::(" +
             file + ")\n");
    EXPECT_EQ(sorted, "::LOADSEG::(" + segment + ")\r\n::OPEN::(" + file + ")  // DupSeg b\r\n" +
                          "::LOADSEG::(b)\r\n::OPEN::(" + file + ")  // DupSeg " + segment +
                          "\r\n");
    EXPECT_EQ(m_System.m_Console.find("Fatal"), std::string::npos);
}

TEST_F(SegsorterTest, ManySegmentsAndFilesCrossBufferBoundaries) {
    std::string dump, expected;
    for (int s = 0; s < 40; ++s) {
        dump += "::LOADSEG::(segment" + std::to_string(s) + ")\n";
        expected += "::LOADSEG::(segment" + std::to_string(s) + ")\r\n";
        for (int f = 0; f < 30; ++f) {
            std::string name = "data\\s" + std::to_string(s) + "\\file" + std::to_string(f);
            dump += "::OPEN::(" + name + ")    // " + std::to_string(f) + "ms\n";
            dump += "::OPEN::(" + name + ")\n";  // repeated: dropped
            expected += "::OPEN::(" + name + ")\r\n";
        }
    }
    ASSERT_GT(dump.size(), 3u * 4096);
    EXPECT_EQ(Sort(dump), expected);
}

TEST_F(SegsorterTest, FailuresAreReportedAndCreateNothing) {
    std::string missing = m_Dir.Path("missing.txt");
    std::string out = m_Dir.Path("out.txt");
    EXPECT_EQ(ProcessDump(missing.c_str(), out.c_str(), nullptr), -1);
    EXPECT_NE(m_System.m_Console.find("Error: Cannot open load dump '" + missing + "'"),
              std::string::npos);
    EXPECT_FALSE(m_Dir.Exists("out.txt"));

    std::string dump = m_Dir.Write("dump.txt", "::LOADSEG::(s)\n");
    m_System.m_Console.clear();
    EXPECT_EQ(ProcessDump(dump.c_str(), nullptr, nullptr), -1);
    EXPECT_NE(m_System.m_Console.find("Error: Usage: segsorter loaddump sortedfile [excludelist]"),
              std::string::npos);

    std::string unwritable = m_Dir.Path("no-such-dir/out.txt");
    m_System.m_Console.clear();
    EXPECT_EQ(ProcessDump(dump.c_str(), unwritable.c_str(), nullptr), -1);
    EXPECT_NE(m_System.m_Console.find("Error: Cannot create name file '" + unwritable + "'"),
              std::string::npos);

    // The third argument is never opened.
    EXPECT_EQ(ProcessDump(dump.c_str(), out.c_str(), m_Dir.Path("nothing").c_str()), 1);
    EXPECT_EQ(m_Dir.Read("out.txt"), "::LOADSEG::(s)\r\n");
}

TEST_F(SegsorterTest, DeviceFailuresAreNotTakenForSuccess) {
    std::string dump;
    for (int i = 0; i < 120000; ++i) dump += "::LOADSEG::(s" + std::to_string(i) + ")\n";
    ASSERT_GT(dump.size(), 2u << 20);  // more than one large read, more than one write
    std::string in = m_Dir.Write("dump.txt", dump);
    std::string out = m_Dir.Path("out.txt");

    // A read that fails part way must not pass for the end of a short dump.
    s_FaultPlan.m_Inner = &LocalDevice.m_Device;
    s_FaultPlan.m_FailReadFrom = 2;
    s_ReadDevice = const_cast<FileDevice*>(&FaultDevice);
    EXPECT_EQ(ProcessDump(in.c_str(), out.c_str(), nullptr), -1);
    EXPECT_NE(m_System.m_Console.find("Error: Cannot read load dump"), std::string::npos);
    s_ReadDevice = &LocalDevice.m_Device;

    // Neither may a sorted file that could not be written.
    s_FaultPlan = FaultPlan();
    s_FaultPlan.m_Inner = &LocalDevice.m_Device;
    s_FaultPlan.m_FailWriteFrom = 2;
    s_WriteDevice = const_cast<FileDevice*>(&FaultDevice);
    m_System.m_Console.clear();
    EXPECT_EQ(ProcessDump(in.c_str(), out.c_str(), nullptr), -1);
    EXPECT_NE(m_System.m_Console.find("Error: Cannot write sorted file '" + out + "'"),
              std::string::npos);
    for (const Stream& s : s_StreamTable) EXPECT_EQ(s.m_Device, nullptr);
}

// The case-blind hash folds A-Z and nothing else. Bytes that a looser fold
// merges ('[' and '{', '\\' and '|', Latin-1 letters, controls and digits)
// must spread: a dump of names made of them would otherwise pile into one
// probe cluster and take quadratic time.
TEST(NameHash, FoldsExactlyTheAsciiLetters) {
    std::string wrong;  // byte pairs hashed alike that are not a letter's two cases, or the reverse
    for (int a = 0; a < 256; ++a) {
        for (int b = a + 1; b < 256; ++b) {
            const char x = static_cast<char>(a), y = static_cast<char>(b);
            bool letter = a >= 'A' && a <= 'Z' && b == a + 32;
            if (letter != (NameHash<true>(&x, 1) == NameHash<true>(&y, 1)))
                wrong += std::to_string(a) + "/" + std::to_string(b) + " ";
        }
    }
    EXPECT_EQ("", wrong);
    const char pairs[][2] = {{'[', '{'}, {'\\', '|'}, {'@', '`'}, {'\xC9', '\xE9'}, {'\x10', '0'}};
    for (std::string prefix : {"", "d\\", "data\\dir\\"}) {  // every word and lane path
        std::set<uint32_t> hashes;
        for (int bits = 0; bits < 4096; ++bits) {
            std::string name = prefix;
            for (int i = 0; i < 12; ++i) name += pairs[i % 5][bits >> i & 1];
            hashes.insert(NameHash<true>(name.data(), name.size()));
        }
        EXPECT_GE(hashes.size(), 4090u) << "'" << prefix << "'";
    }
}

// Segments sharing files, so that writing needs the holders' lists too, over
// more chunks than the read-ahead ring holds.
std::string SharedDump() {
    std::string dump;
    for (int s = 0; dump.size() < 1200000; ++s) {
        dump += "::LOADSEG::(segment" + std::to_string(s % 500) + ")\n";
        for (int f = 0; f < 20; ++f)
            dump += "::OPEN::(data\\file" + std::to_string((s * 7 + f) % 3000) + ".dat)  // 1ms\n";
    }
    return dump;
}

TEST_F(SegsorterTest, OutOfMemoryAnywhereLeavesTheOldSortedFileAlone) {
    std::string in = m_Dir.Write("dump.txt", SharedDump());
    std::string out = m_Dir.Path("sorted.txt");
    s_ToolResources = &kLimited;
    s_Limits = Limits();
    ASSERT_EQ(ProcessDump(in.c_str(), out.c_str(), nullptr), 1);
    const int requests = s_Limits.m_Requests;
    ASSERT_GE(requests, 4) << "the ring, the model, its tables and the output";
    EXPECT_EQ(s_Limits.m_Outstanding, 0u);

    for (int failFrom = 1; failFrom <= requests; ++failFrom) {
        m_Dir.Write("sorted.txt", "the old sorted file");
        m_System.m_Console.clear();
        m_System.m_Boxes.clear();
        s_Limits = Limits{failFrom};
        EXPECT_EQ(ProcessDump(in.c_str(), out.c_str(), nullptr), -1) << failFrom;
        EXPECT_NE(m_System.m_Console.find("': out of memory"), std::string::npos)
            << failFrom << ": " << m_System.m_Console;
        EXPECT_EQ(m_Dir.Read("sorted.txt"), "the old sorted file") << failFrom;
        EXPECT_TRUE(m_System.m_Boxes.empty()) << failFrom << ": an assertion failed";
        EXPECT_EQ(s_Limits.m_Outstanding, 0u) << failFrom;
        for (const Stream& s : s_StreamTable) EXPECT_EQ(s.m_Device, nullptr) << failFrom;
    }
}

// Without a thread the dump is read on the calling thread, with the same
// result, and a failing read is still told from the end.
TEST_F(SegsorterTest, WithoutAThreadTheDumpIsReadAllTheSame) {
    std::string in = m_Dir.Write("dump.txt", SharedDump());
    std::string out = m_Dir.Path("sorted.txt");
    ASSERT_EQ(ProcessDump(in.c_str(), out.c_str(), nullptr), 1);
    const std::string sorted = m_Dir.Read("sorted.txt");
    s_ToolResources = &kLimited;
    s_FaultPlan.m_Inner = &LocalDevice.m_Device;
    s_ReadDevice = const_cast<FileDevice*>(&FaultDevice);
    for (bool threads : {true, false}) {
        for (int failReadFrom : {0, 3}) {
            s_Limits = Limits{0, !threads};
            s_FaultPlan.m_Reads = 0;
            s_FaultPlan.m_FailReadFrom = failReadFrom;
            m_Dir.Write("sorted.txt", "old");
            int expected = failReadFrom ? -1 : 1;
            EXPECT_EQ(ProcessDump(in.c_str(), out.c_str(), nullptr), expected)
                << threads << failReadFrom << m_System.m_Console;
            // Not compared with EXPECT_EQ, which would print the whole file.
            EXPECT_TRUE(m_Dir.Read("sorted.txt") == (failReadFrom ? "old" : sorted))
                << threads << failReadFrom;
        }
    }
    EXPECT_TRUE(m_System.m_Boxes.empty());
}

}  // namespace

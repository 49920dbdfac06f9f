// The whole load path with nothing stood in below the streams: an archive on
// the local disk, a second archive and a plain file served by filehost over
// loopback, a mapper routing names between them; read back in this process,
// then loaded by loadsim, whose load dump segsorter sorts.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "file/filemapper.h"
#include "file/stream.h"
#include "platform/platform.h"
#include "remote/filehost/host.h"
#include "remote/remote.h"
#include "support/temp_dir.h"
#include "support/zip_writer.h"
#include "zip/zipfile.h"

namespace {

std::string Pattern(size_t size, int seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 509 + seed) % 253);
    return bytes;
}

// The outer call on a sounds/ member stays on the local device: only the
// host's functions, which the archive kept from its opening, can read it.
const char* const kRows[] = {"data/=local,zip", "sounds/=local,zip", "packs/=remote", "notes/=remote"};

class LoadPath : public ::testing::Test {
protected:
    void SetUp() override {
        m_Local = {{"data/ui/menu.txt", "New game\nQuit\n"},
                   {"data/rooms/hall.txt", Pattern(9000, 1)},
                   {"data/tex/stone.txt", Pattern(70000, 2)}};
        m_Remote = {{"sounds/door.wav", Pattern(50000, 3)}, {"sounds/step.wav", Pattern(3000, 4)}};
        m_Dir.Write("local.zip", Archive(m_Local, "data/tex/stone.txt"));
        std::filesystem::create_directories(m_Dir.Path("host/packs"));
        std::filesystem::create_directories(m_Dir.Path("host/notes"));
        m_Dir.Write("host/packs/sounds.zip", Archive(m_Remote, "sounds/door.wav"));
        m_Dir.Write("host/notes/todo.txt", m_Todo);
        m_Host = StartFileHost(FILEHOST_BIN, m_Dir.Path("host").c_str(), &m_Port);
        ASSERT_GE(m_Host, 0);
    }

    void TearDown() override {
        if (m_Host >= 0) plat::ProcessStop(m_Host);
    }

    static std::string Archive(const std::map<std::string, std::string>& files, const std::string& deflated) {
        std::vector<ZipMember> members;
        for (const auto& f : files) members.push_back({f.first, f.second, f.first == deflated});
        return BuildZip(members);
    }

    static std::string ReadBack(const std::string& name) {
        Stream* s = Stream::Open(name.c_str(), true);
        if (!s) return "<cannot open>";
        std::string bytes;
        char piece[10000];
        for (int32_t n; (n = s->Read(piece, sizeof piece)) > 0;) bytes.append(piece, n);
        s->Close();
        return bytes;
    }

    static int Run(const std::string& command) {
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir m_Dir;
    std::map<std::string, std::string> m_Local, m_Remote;
    const std::string m_Todo = "buy milk\n";
    int64_t m_Host = -1;
    int32_t m_Port = 0;
};

TEST_F(LoadPath, EveryFileReadsBackThroughTheMapper) {
    ASSERT_TRUE(RemoteConnect("127.0.0.1", m_Port));
    std::vector<FileMapEntry> rows(4);
    for (size_t i = 0; i < rows.size(); ++i) ASSERT_TRUE(ParseFileMapRow(kRows[i], &rows[i]));
    FileMapper* mapper = NewFileMapper(rows.data(), 4);
    ASSERT_TRUE(mapper && InstallFileMapper(mapper));
    EXPECT_NE(nullptr, zipFile::Mount(m_Dir.Path("local.zip").c_str(), 0));
    zipFile* sounds = zipFile::Mount("packs/sounds.zip", 0);
    ASSERT_NE(nullptr, sounds);
    EXPECT_EQ(0, mapper->m_OpenCount) << "an archive takes no slot of the mapper";
    EXPECT_TRUE(sounds->m_Device->Read == RemoteRead) << "the host's archive reads from the host";

    std::map<std::string, std::string> all = m_Local;
    all.insert(m_Remote.begin(), m_Remote.end());
    all["notes/todo.txt"] = m_Todo;
    for (const auto& f : all) EXPECT_EQ(f.second, ReadBack(f.first)) << f.first;
    EXPECT_EQ(0, GetCurrentDevice());

    zipFile::UnmountAll();
    EXPECT_TRUE(RemoveFileMapper());
    DeleteFileMapper(mapper);
    RemoteDisconnect();
}

TEST_F(LoadPath, LoadsimsDumpSortsIntoTheLoadOrder) {
    m_Dir.Write("level.script",
                "# boot, then two rooms sharing a door and a texture\n"
                "segment boot\n"
                "data/ui/menu.txt\n"
                "notes/todo.txt     # plain, from the host: no record\n"
                "\n"
                "segment hall\n"
                "data/rooms/hall.txt\n"
                "sounds/door.wav\n"
                "data/tex/stone.txt\n"
                "data/missing.txt\n"
                "segment yard\n"
                "  sounds/door.wav\n"
                "data/tex/stone.txt\n"
                "Sounds/Step.wav\n");
    std::string command = std::string(LOADSIM_BIN) + " --host 127.0.0.1:" + std::to_string(m_Port);
    for (const char* row : kRows) command += std::string(" --map ") + row;
    command += " --mount " + m_Dir.Path("local.zip") + " --mount packs/sounds.zip --names packed " +
               m_Dir.Path("level.script") + " > " + m_Dir.Path("level.dump") + " 2> " + m_Dir.Path("err");
    EXPECT_EQ(1, Run(command)) << "one file was not found";
    const std::string err = m_Dir.Read("err");
    EXPECT_NE(std::string::npos, err.find("Error: Cannot load 'data/missing.txt'")) << err;
    EXPECT_NE(std::string::npos, err.find("loadsim: 8 files, 252023 bytes, ")) << err;
    EXPECT_NE(std::string::npos, err.find(" ms, 1 not found")) << err;

    ASSERT_EQ(1, Run(std::string(SEGSORTER_BIN) + " " + m_Dir.Path("level.dump") + " " +
                     m_Dir.Path("level.sorted") + " > /dev/null"));
    EXPECT_EQ("::LOADSEG::(boot)\r\n"
              "::OPEN::(data\\ui\\menu.txt)\r\n"
              "::LOADSEG::(hall)\r\n"
              "::OPEN::(data\\rooms\\hall.txt)\r\n"
              "::OPEN::(sounds\\door.wav)  // DupSeg yard\r\n"
              "::OPEN::(data\\tex\\stone.txt)  // DupSeg yard\r\n"
              "::LOADSEG::(yard)\r\n"
              "::OPEN::(sounds\\door.wav)  // DupSeg hall\r\n"
              "::OPEN::(data\\tex\\stone.txt)  // DupSeg hall\r\n"
              "::OPEN::(sounds\\step.wav)\r\n",
              m_Dir.Read("level.sorted"))
        << m_Dir.Read("level.dump");
}

// loadsim on one archive of the local disk, its standard output and error
// apart: the first must be a load dump whatever happens.
class Loadsim : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<ZipMember> members = {{"data/a.txt", "alpha\n"},
                                          {"data/b.txt", Pattern(20000, 5), true},
                                          {"data/bad.dat", Pattern(20000, 6), true},
                                          {"ab", "two\n"},
                                          {"data/x)y.txt", "paren\n"},
                                          {"a)b.txt", "early paren\n"}};
        ZipLayout layout;
        std::string archive = BuildZip(members, &layout);
        archive[layout.m_Local[2] + 30 + members[2].m_Name.size()] = 0x07;  // a block of the reserved type
        m_Dir.Write("level.zip", archive);
    }

    // Runs the script with standard output to the file "out", or to stdoutTo,
    // and options before it.
    int Run(const std::string& script, const char* stdoutTo = nullptr, const std::string& options = "") {
        m_Dir.Write("level.script", script);
        std::string command = std::string(LOADSIM_BIN) + " --mount " + m_Dir.Path("level.zip") + " " + options +
                              m_Dir.Path("level.script") + " > " + (stdoutTo ? stdoutTo : m_Dir.Path("out")) +
                              " 2> " + m_Dir.Path("err");
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Standard output with each record's timing cut off; the timings, in *ms.
    std::string Records(int32_t* ms = nullptr) {
        std::istringstream lines(m_Dir.Read("out"));
        std::string records;
        for (std::string line; std::getline(lines, line);) {
            size_t timing = line.rfind("    // ");
            if (line.compare(0, 9, "::OPEN::(") == 0 && timing != std::string::npos) {
                if (ms) *ms += std::atoi(line.c_str() + timing + 7);
                line.erase(timing);
            }
            records += line + "\n";
        }
        return records;
    }

    TempDir m_Dir;
};

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++count;
    return count;
}

TEST_F(Loadsim, StandardOutputIsALoadDumpAndNothingElse) {
    const std::string kLongestSegment(474, 'x'), kLongFile(400, 'f'), kTooLongSegment(475, 'y');
    const struct {
        const char* m_Label;
        std::string m_Script;
        int m_Status;
        std::string m_Dump;
        std::vector<std::string> m_Err;  // parts of standard error
        size_t m_Warnings;
    } kCases[] = {
        {"the longest segment name a record holds",
         "segment " + kLongestSegment + "\ndata/a.txt\n", 0,
         "::LOADSEG::(" + kLongestSegment + ")\n::OPEN::(data\\a.txt)\n", {"loadsim: 1 files, 6 bytes"}, 0},
        {"a file name longer than the mapper takes", "segment s\n" + kLongFile + "\ndata/a.txt\n", 1,
         "::LOADSEG::(s)\n::OPEN::(data\\a.txt)\n",
         {"Error: Cannot load '" + kLongFile + "': its name has 400 characters", " ms, 1 not found"}, 0},
        {"a segment name one longer", "segment " + kTooLongSegment + "\ndata/a.txt\n", 2, "",
         {"loadsim: segment 'yyyy", "has a name of 475 characters; a load dump carries 474"}, 0},
        {"names a dump reader loses, warned about once each",
         "segment s)x\nab\nab\ndata/x)y.txt\na)b.txt\n", 0,
         "::LOADSEG::(s)x)\n::OPEN::(ab)\n::OPEN::(ab)\n::OPEN::(data\\x)y.txt)\n::OPEN::(a)b.txt)\n",
         {"Warning: Segment 's)x' will be read back from a load dump as 's'", "Warning: File 'ab' cannot cross",
          "Warning: File 'data/x)y.txt' cannot cross"},
         3},
        {"a fatal stop's text and the streams it closes", "segment s\ndata/a.txt\ndata/bad.dat\ndata/b.txt\n",
         3, "::LOADSEG::(s)\n::OPEN::(data\\a.txt)\n::OPEN::(data\\bad.dat)\n",
         {"Cannot inflate 'data/bad.dat'", "Fatal Error: Fatal disc error", "closing 'data/bad.dat'"}, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_Label);
        EXPECT_EQ(c.m_Status, Run(c.m_Script));
        EXPECT_EQ(c.m_Dump, Records());
        const std::string err = m_Dir.Read("err");
        for (const std::string& part : c.m_Err) EXPECT_NE(std::string::npos, err.find(part)) << err;
        EXPECT_EQ(c.m_Warnings, Count(err, "Warning:")) << err;
    }
}

TEST_F(Loadsim, ADumpThatCannotBeWrittenFailsTheRun) {
    EXPECT_EQ(1, Run("segment s\ndata/a.txt\ndata/b.txt\n", "/dev/full"));
    EXPECT_NE(std::string::npos, m_Dir.Read("err").find("loadsim: the load dump was not written whole to "
                                                        "standard output: No space left on device"))
        << m_Dir.Read("err");
}

// A file that opens but cannot be read (on Linux, reading a process's memory
// at address 0 fails) is not loaded: it fails the run, named.
TEST_F(Loadsim, AFileWhoseReadFailsIsNotCountedAsLoaded) {
    EXPECT_EQ(1, Run("segment s\n/proc/self/mem\ndata/a.txt\n", nullptr, "--map /proc/=local --map '*=local,zip' "));
    const std::string err = m_Dir.Read("err");
    EXPECT_NE(std::string::npos, err.find("Error: Cannot load '/proc/self/mem': a read failed")) << err;
    EXPECT_NE(std::string::npos, err.find("loadsim: 1 files, 6 bytes, ")) << err;
    EXPECT_NE(std::string::npos, err.find(" ms, 0 not found, 1 failed to read\n")) << err;
}

// Each file is read whole into one buffer kept between files: every byte
// counts whether the buffer grows for a file, a smaller one follows it, or a
// loose file (whose size no device tells) takes several reads; the mount's
// own time comes first.
TEST_F(Loadsim, EveryByteOfEveryFileLoads) {
    const std::string loose = m_Dir.Write("loose.bin", Pattern(200000, 7));
    const struct {
        const char* m_Label;
        std::string m_Script;
        const char* m_Summary;
    } kCases[] = {
        {"growing, then smaller", "data/a.txt\ndata/b.txt\ndata/a.txt\n", "loadsim: 3 files, 20012 bytes, "},
        {"a loose file of several reads among members", "data/b.txt\n" + loose + "\nab\n",
         "loadsim: 3 files, 220004 bytes, "},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.m_Label);
        EXPECT_EQ(0, Run(c.m_Script, nullptr, "--map " + m_Dir.Path("") + "=local --map '*=local,zip' "));
        const std::string err = m_Dir.Read("err");
        size_t mount = err.find("loadsim: mounted 1 archive in "), summary = err.find(c.m_Summary);
        EXPECT_NE(std::string::npos, summary) << err;
        EXPECT_LT(mount, summary) << err;
    }
}

// The tick counter's calibration (a 100 ms sleep) must not be charged to the
// first record, nor to the total: loading three small files takes far less.
TEST_F(Loadsim, TimingsAreTheLoadsAlone) {
    ASSERT_EQ(0, Run("segment s\ndata/a.txt\ndata/b.txt\nab\n"));
    int32_t recorded = 0;
    EXPECT_EQ("::LOADSEG::(s)\n::OPEN::(data\\a.txt)\n::OPEN::(data\\b.txt)\n::OPEN::(ab)\n", Records(&recorded));
    const std::string err = m_Dir.Read("err");
    size_t total = err.find("loadsim: 3 files, 20010 bytes, ");
    ASSERT_NE(std::string::npos, total) << err;
    EXPECT_LT(recorded, 80) << m_Dir.Read("out");
    EXPECT_LT(std::atoi(err.c_str() + total + 31), 80) << err;
}

}  // namespace

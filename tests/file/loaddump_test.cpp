// The load dump a program records through the library: segments started by
// name, and plain files opened through streams recorded as their archive's
// members are, so that either dump sorts into the same load order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "file/filemapper.h"
#include "file/loaddump.h"
#include "file/stream.h"
#include "support/capture_system.h"
#include "support/temp_dir.h"
#include "support/zip_writer.h"
#include "tool/segsorter.h"
#include "zip/zipfile.h"

namespace {

const char* const kMembers[] = {"Data/UI/Menu.txt", "data/rooms/hall.txt", "data/Tex/Stone.txt",
                                "data/rooms/yard.txt"};
// "segment NAME" starts a segment, "save NAME" opens a file for writing;
// anything else is a member, loaded.
const char* const kLoads[] = {"segment boot", "Data/UI/Menu.txt",   "save save.txt",
                              "segment hall", "data/rooms/hall.txt", "data/Tex/Stone.txt",
                              "segment yard", "data/Tex/Stone.txt",  "data/rooms/yard.txt",
                              "Data/UI/Menu.txt"};

class LoadDumpTest : public ::testing::Test {
protected:
    void TearDown() override {
        s_StreamLoadLog = s_ZipLoadLog = false;
        datAssetManager::SetPath("");
        zipFile::UnmountAll();
    }

    // What the display channel printed while kLoads ran.
    std::string Load() {
        datAssetManager::SetPath(m_Dir.Path("game").c_str());
        m_Dir.Write("game/save.txt", "");
        CaptureSystem capture;
        for (const char* step : kLoads) {
            if (strncmp(step, "segment ", 8) == 0) {
                EXPECT_TRUE(StartLoadSegment(step + 8));
                continue;
            }
            bool save = strncmp(step, "save ", 5) == 0;
            Stream* s = Stream::Open(m_Dir.Path(std::string("game/") + (save ? step + 5 : step)).c_str(), !save);
            EXPECT_NE(nullptr, s) << step;
            if (s) s->Close();
        }
        return capture.m_Console;
    }

    std::string Sort(const std::string& dump) {
        std::string in = m_Dir.Write("dump.txt", dump);
        if (ProcessDump(in.c_str(), m_Dir.Path("sorted.txt").c_str(), nullptr) != 1) return "<failed>";
        return m_Dir.Read("sorted.txt");
    }

    static size_t Opens(const std::string& dump) {
        size_t count = 0;
        for (size_t at = 0; (at = dump.find("::OPEN::(", at)) != std::string::npos; ++at) ++count;
        return count;
    }

    TempDir m_Dir;
};

TEST_F(LoadDumpTest, LooseFilesSortIntoTheLoadOrderOfTheirArchive) {
    std::filesystem::create_directories(m_Dir.Path("game/Data/UI"));
    std::filesystem::create_directories(m_Dir.Path("game/data/rooms"));
    std::filesystem::create_directories(m_Dir.Path("game/data/Tex"));
    std::vector<ZipMember> members;
    for (const char* name : kMembers) {
        m_Dir.Write(std::string("game/") + name, name);
        members.push_back({name, name, members.size() % 2 == 1});
    }
    m_Dir.Write("game.zip", BuildZip(members));

    s_StreamLoadLog = true;
    const std::string loose = Load();
    // The same loads served by the archive, with both kinds of record asked
    // for: the archive's members are recorded by the zip layer alone.
    FileMapEntry row;
    ASSERT_TRUE(ParseFileMapRow("data/=local,zip", &row));
    FileMapper* mapper = NewFileMapper(&row, 1);
    ASSERT_TRUE(mapper && InstallFileMapper(mapper));
    ASSERT_NE(nullptr, zipFile::Mount(m_Dir.Path("game.zip").c_str(), 0));
    s_ZipLoadLog = true;
    const std::string archived = Load();
    s_StreamLoadLog = s_ZipLoadLog = false;
    zipFile::UnmountAll();
    EXPECT_TRUE(RemoveFileMapper());
    DeleteFileMapper(mapper);

    EXPECT_EQ(6u, Opens(loose)) << loose;
    EXPECT_EQ(6u, Opens(archived)) << archived;
    const std::string sorted =
        "::LOADSEG::(boot)\r\n"
        "::OPEN::(data\\ui\\menu.txt)  // DupSeg yard\r\n"
        "::LOADSEG::(hall)\r\n"
        "::OPEN::(data\\rooms\\hall.txt)\r\n"
        "::OPEN::(data\\tex\\stone.txt)  // DupSeg yard\r\n"
        "::LOADSEG::(yard)\r\n"
        "::OPEN::(data\\tex\\stone.txt)  // DupSeg hall\r\n"
        "::OPEN::(data\\rooms\\yard.txt)\r\n"
        "::OPEN::(data\\ui\\menu.txt)  // DupSeg boot\r\n";
    EXPECT_EQ(sorted, Sort(loose)) << loose;
    EXPECT_EQ(sorted, Sort(archived)) << archived;
}

TEST(LoadSegment, NamesADumpCannotCarryWholeAreRefusedWithNothingWritten) {
    const std::string longest(kLongestSegmentName, 's');
    const struct {
        std::string m_Name;
        bool m_Started;
        const char* m_Said;
    } cases[] = {
        {longest, true, nullptr},
        {longest + "s", false, "Error: Segment 'ssss"},
        {"two\nlines", false, "Error: Segment 'two...'"},
        {"x)y", true, "Warning: Segment 'x)y' will be read back from a load dump as 'x'"},
    };
    for (const auto& c : cases) {
        CaptureSystem capture;
        EXPECT_EQ(c.m_Started, StartLoadSegment(c.m_Name.c_str())) << c.m_Name;
        const std::string& said = capture.m_Console;
        EXPECT_EQ(c.m_Started, said.find("::LOADSEG::(" + c.m_Name + ")") != std::string::npos) << said;
        EXPECT_EQ(c.m_Started, said.find("::LOADSEG::") != std::string::npos) << said;
        if (c.m_Said) EXPECT_NE(std::string::npos, said.find(c.m_Said)) << said;
        else EXPECT_EQ(std::string::npos, said.find("Error")) << said;
    }
}

}  // namespace

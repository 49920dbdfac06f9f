// The load dump a program records through the library: segments started by
// name, and plain files opened through streams recorded as their archive's
// members are, so that either dump sorts into the same load order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/filemapper.h"
#include "file/loaddump.h"
#include "file/stream.h"
#include "support/capture_system.h"
#include "support/temp_dir.h"
#include "support/zip_writer.h"
#include "tool/segsorter.h"
#include "zip/zipfile.h"

namespace {

// A segment at the longest name a dump carries, then one a character longer:
// refused, so its files stay in the one before. The saved file is opened for
// writing, which is never recorded.
TEST(LoadDump, LooseFilesSortIntoTheLoadOrderOfTheirArchive) {
    TempDir dir;
    const std::string longest(kLongestSegmentName, 's');
    const std::vector<std::string> loads = {
        "|boot",  "Data/UI/Menu.txt",   "save.txt",         "|" + longest,      "data/rooms/hall.txt",
        "data/Tex/Stone.txt", "|" + longest + "s", "data/rooms/yard.txt", "Data/UI/Menu.txt"};
    std::vector<ZipMember> members;
    for (const char* name : {"Data/UI/Menu.txt", "data/rooms/hall.txt", "data/Tex/Stone.txt", "data/rooms/yard.txt"}) {
        std::filesystem::create_directories(std::filesystem::path(dir.Path("game/") + name).parent_path());
        dir.Write(std::string("game/") + name, name);
        members.push_back({name, name, members.size() % 2 == 1});
    }
    dir.Write("game/save.txt", "");
    dir.Write("game.zip", BuildZip(members));
    datAssetManager::SetPath(dir.Path("game").c_str());
    auto load = [&] {
        CaptureSystem capture;
        for (const std::string& step : loads) {
            if (step[0] == '|') {
                EXPECT_EQ(step.size() <= longest.size() + 1, StartLoadSegment(step.c_str() + 1));
                continue;
            }
            Stream* s = Stream::Open(dir.Path("game/" + step).c_str(), step != "save.txt");
            EXPECT_NE(nullptr, s) << step;
            if (s) s->Close();
        }
        EXPECT_NE(std::string::npos, capture.m_Console.find("Error: Segment 'ssss")) << "the refusal is told";
        return capture.m_Console;
    };
    auto sort = [&](const std::string& dump) {
        dir.Write("dump", dump);
        EXPECT_EQ(1, ProcessDump(dir.Path("dump").c_str(), dir.Path("sorted").c_str(), nullptr));
        return dir.Read("sorted");
    };

    s_StreamLoadLog = true;
    const std::string loose = load();
    // The same loads from the archive, with both kinds of record asked for:
    // its members are recorded by the zip layer alone.
    FileMapEntry row;
    ASSERT_TRUE(ParseFileMapRow("data/=local,zip", &row));
    FileMapper* mapper = NewFileMapper(&row, 1);
    ASSERT_TRUE(mapper && InstallFileMapper(mapper));
    ASSERT_NE(nullptr, zipFile::Mount(dir.Path("game.zip").c_str(), 0));
    s_ZipLoadLog = true;
    const std::string archived = load();
    s_StreamLoadLog = s_ZipLoadLog = false;
    zipFile::UnmountAll();
    EXPECT_TRUE(RemoveFileMapper());
    DeleteFileMapper(mapper);
    datAssetManager::SetPath("");

    size_t opens = 0;
    for (size_t at = 0; (at = archived.find("::OPEN::(", at)) != std::string::npos; ++at) ++opens;
    EXPECT_EQ(5u, opens) << archived;
    const std::string sorted = "::LOADSEG::(boot)\r\n::OPEN::(data\\ui\\menu.txt)  // DupSeg " + longest +
                               "\r\n::LOADSEG::(" + longest +
                               ")\r\n::OPEN::(data\\rooms\\hall.txt)\r\n::OPEN::(data\\tex\\stone.txt)\r\n"
                               "::OPEN::(data\\rooms\\yard.txt)\r\n::OPEN::(data\\ui\\menu.txt)  // DupSeg boot\r\n";
    EXPECT_EQ(sorted, sort(loose)) << loose;
    EXPECT_EQ(sorted, sort(archived)) << archived;
}

}  // namespace

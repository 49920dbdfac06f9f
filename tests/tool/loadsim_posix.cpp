// The whole load path with nothing stood in below the streams: an archive on
// the local disk, a second archive and a plain file served by filehost over
// loopback, a mapper routing names between them; read back in this process,
// then loaded by loadsim, whose load dump segsorter sorts.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
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

}  // namespace

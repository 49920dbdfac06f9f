// Archives on the local disk and on the file host at once, through a mapper,
// with nothing stood in below the streams: each archive file is read from the
// device it was opened on, whatever numbers the disk and the host hand out,
// and however many archives there are.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "file/filemapper.h"
#include "remote/host_program.h"
#include "support/zip_writer.h"
#include "zip/zipfile.h"

namespace {

FileMapEntry Row(const std::string& prefix, uint8_t device, uint8_t zip) {
    FileMapEntry row = {};
    strcpy(row.m_Prefix, prefix.c_str());
    row.m_DeviceId = device;
    row.m_UseZip = zip;
    return row;
}

std::string Content(int seed, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 311 + seed * 29) % 251);
    return bytes;
}

std::string ReadBack(const std::string& name) {
    Stream* s = Stream::Open(name.c_str(), true);
    if (!s) return "<cannot open>";
    std::string bytes;
    char piece[3000];
    for (int32_t n; (n = s->Read(piece, sizeof piece)) > 0;) bytes.append(piece, n);
    s->Close();
    return bytes;
}

class HostArchives : public FileHostProgram {
protected:
    void SetUp() override {
        FileHostProgram::SetUp();
        SwitchDevice(0);
    }
    void TearDown() override {
        Unmap();
        FileHostProgram::TearDown();
    }
    static void Unmap() {
        zipFile::UnmountAll();
        if (FileMapper* mapper = s_FileMapper) {
            EXPECT_TRUE(RemoveFileMapper());
            DeleteFileMapper(mapper);
        }
    }
    void Map(const std::vector<FileMapEntry>& rows) {
        FileMapper* mapper = NewFileMapper(rows.data(), static_cast<int32_t>(rows.size()));
        ASSERT_TRUE(mapper && InstallFileMapper(mapper));
    }
    TempDir m_Local;
};

// Archives on the host, five and then nine (more than the mapper has slots),
// and one on the disk whose descriptor is likely the number of one on the
// host; each stored member is longer than the local archive, so a read from
// the wrong archive cannot pass unnoticed.
TEST_F(HostArchives, EveryArchiveReadsFromItsOwnDevice) {
    const std::string localZip = m_Local.Write("local.zip", BuildZip({{"loc/a.txt", "local bytes"}}));
    for (int i = 1; i <= 9; ++i) {
        std::string n = std::to_string(i);
        m_Root.Write("remote" + n + ".zip", BuildZip({{"rem" + n + "/file.txt", Content(i, 5000), i % 2 == 0}}));
    }
    for (int remote : {5, 9}) {
        SCOPED_TRACE(remote);
        Map({Row(localZip, 0, 0), Row("loc/", 0, 1), Row("remote*", 1, 0), Row("*", 1, 1)});
        ASSERT_NE(nullptr, zipFile::Mount(localZip.c_str(), 0));
        for (int i = 1; i <= remote; ++i)
            ASSERT_NE(nullptr, zipFile::Mount(("remote" + std::to_string(i) + ".zip").c_str(), 0)) << i;
        EXPECT_EQ(0, s_FileMapper->m_OpenCount) << "archives take no slot";
        for (int i = remote; i >= 1; --i)
            EXPECT_EQ(Content(i, 5000), ReadBack("rem" + std::to_string(i) + "/file.txt")) << i;
        EXPECT_EQ("local bytes", ReadBack("loc/a.txt"));
        EXPECT_EQ(0, GetCurrentDevice());
        Unmap();
    }
}

// A file past 4 GiB (a small archive followed by zeros) once looked like its
// low 32 bits, 128 bytes, to a mount on either device.
TEST_F(HostArchives, AnArchiveOfFourGigabytesIsRefusedOnEitherDevice) {
    std::string archive = BuildZip({{"a.txt", "small"}});
    m_Local.Write("huge.zip", archive);
    m_Root.Write("huge.zip", archive);
    for (const std::string& name : {m_Local.Path("huge.zip"), m_Root.Path("huge.zip")})
        std::filesystem::resize_file(name, (uintmax_t(1) << 32) + 128);
    const std::pair<std::string, uint8_t> roads[] = {{m_Local.Path("huge.zip"), 0}, {"huge.zip", 1}};
    for (const auto& road : roads) {
        SwitchDevice(road.second);
        EXPECT_EQ(nullptr, zipFile::Mount(road.first.c_str(), 0)) << road.first;
        EXPECT_STREQ("it is 2 GiB or more (archives are served below 2 GiB)", zipFile::MountError());
    }
    SwitchDevice(0);
}

}  // namespace

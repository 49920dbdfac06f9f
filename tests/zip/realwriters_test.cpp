// Archives written by real writers (made at build time, see make_archives.py)
// mounted from the file and from a memory image in each name mode: every
// member reads back byte for byte, whole, in small pieces and after seeks.
#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "file/stream.h"
#include "zip/zipfile.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The files every archive holds, by name with '/' separators.
std::map<std::string, std::string> Tree() {
    std::map<std::string, std::string> files;
    fs::path root = fs::path(ZIP_FIXTURES) / "tree";
    for (const auto& item : fs::recursive_directory_iterator(root))
        if (item.is_regular_file()) files[item.path().lexically_relative(root).generic_string()] = Slurp(item.path());
    return files;
}

class RealWriters : public ::testing::TestWithParam<const char*> {
protected:
    void TearDown() override {
        zipFile::UnmountAll();
        s_ZipNameMode = kZipNamesPlain;
    }

    // Through a stream with the zip device selected, in pieces of `piece`.
    static std::string StreamRead(const std::string& name, int32_t piece) {
        Stream* s = Stream::Open(name.c_str(), true);
        if (!s) return "<not opened>";
        std::string out;
        std::vector<char> buffer(piece);
        for (int32_t n; (n = s->Read(buffer.data(), piece)) > 0;) out.append(buffer.data(), n);
        s->Close();
        return out;
    }

    // Forward past the middle, back near the start, then to the end.
    static void CheckSeeks(const std::string& name, const std::string& data) {
        const FileDevice& zip = ZipDevice.m_Device;
        int32_t h = zip.Open(name.c_str(), 1);
        ASSERT_GE(h, 0);
        int32_t size = static_cast<int32_t>(data.size());
        for (int32_t at : {size / 2 + 3, size / 5, size - 7, 1, 0}) {
            if (at < 0 || at > size) continue;
            char buffer[64];
            ASSERT_EQ(zip.Seek(h, at, 0), at);
            int32_t n = zip.Read(h, buffer, sizeof buffer);
            ASSERT_EQ(std::string(buffer, n), data.substr(at, sizeof buffer)) << "at " << at;
        }
        zip.Close(h);
    }

    static void CheckArchive(zipFile* zip, const std::map<std::string, std::string>& files) {
        ASSERT_TRUE(zip);
        ASSERT_EQ(zip->m_EntryCount, static_cast<int32_t>(files.size()));
        ASSERT_TRUE(zipFile::zipSelect(true));
        for (const auto& [name, data] : files) {
            SCOPED_TRACE(name);
            std::string key = name;
            for (char& c : key) c = c == '/' ? '\\' : static_cast<char>(toupper(c));
            const zipEntry* entry = zip->Find(key.c_str());
            ASSERT_TRUE(entry);
            EXPECT_EQ(zip->CrcOf(entry), crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                               static_cast<uInt>(data.size())));
            EXPECT_EQ(StreamRead(key, 1 << 20), data);
            EXPECT_EQ(StreamRead(name, 37), data);
            CheckSeeks(name, data);
        }
        zipFile::zipSelect(false);
    }
};

TEST_P(RealWriters, EveryMemberReadsBackInEveryModeFromFileAndMemory) {
    std::map<std::string, std::string> files = Tree();
    ASSERT_FALSE(files.empty());
    std::string path = (fs::path(ZIP_FIXTURES) / GetParam()).string();
    std::string image = Slurp(path);
    for (ZipNameMode mode : {kZipNamesPlain, kZipNamesPacked, kZipNamesFrontCoded}) {
        for (bool memory : {false, true}) {
            SCOPED_TRACE(std::string(memory ? "memory, mode " : "file, mode ") + std::to_string(mode));
            s_ZipNameMode = mode;
            zipFile* zip = memory ? zipFile::MountImage(path.c_str(), image.data(),
                                                        static_cast<uint32_t>(image.size()), 0)
                                  : zipFile::Mount(path.c_str(), 0);
            CheckArchive(zip, files);
            zipFile::UnmountAll();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Archives, RealWriters,
                         ::testing::Values("py_stored.zip", "py_deflated.zip", "py_descriptors.zip",
                                           "iz_deflated.zip", "iz_stored.zip", "iz_streamed.zip"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace

// Random small trees through the archive writer, read back two ways: by the
// zip layer's mount and by a plain reader. Both must find every member with
// its name, size and bytes; CRCs must be right, stored members aligned when
// that is asked, and the writer's counts must add up.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/common_interface_defs.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <zlib.h>

#include "file/device.h"
#include "support/capture_system.h"
#include "support/plain_zip.h"
#include "support/temp_dir.h"
#include "zip/zipfile.h"
#include "zip/zipwriter.h"

namespace {

const int kMostFiles = 20;
const size_t kLargestFile = 64 * 1024;
const uint32_t kPage = 2048;
const char kSegmentChars[] = "abcxyzABCXYZ0129_-.";

CaptureSystem* s_Capture;
// Made once for the run; removed at exit, and on a crash too, so that long
// runs leave nothing behind.
TempDir* s_Scratch;

void RemoveScratch() {
    delete s_Scratch;
    s_Scratch = nullptr;
}

void Check(bool ok, const char* what, const std::string& name = "") {
    if (ok) return;
    fprintf(stderr, "zipwriter_fuzz: %s [%s]\n", what, name.c_str());
    RemoveScratch();
    abort();
}

struct File {
    std::string m_Name;
    std::string m_Data;
    bool m_Store;
};

struct Tree {
    std::vector<File> m_Files;
    ZipWriteOptions m_Options;
    ZipNameMode m_Mode;
    bool m_MountFile;  // mount the written file, else an image of its bytes
};

// ------------------------------------------------------------ the tree

// Parts joined by '/', none empty, so no name is taken for a directory.
std::string MakeName(FuzzedDataProvider& in) {
    std::string name;
    for (int part = in.ConsumeIntegralInRange(1, 3); part > 0; --part) {
        if (!name.empty()) name += '/';
        for (int k = in.ConsumeIntegralInRange(1, 12); k > 0; --k)
            name += kSegmentChars[in.ConsumeIntegralInRange<size_t>(0, sizeof kSegmentChars - 2)];
    }
    return name;
}

std::string TextLike(std::minstd_rand& random, size_t size) {
    static const char* const kWords[] = {"level ", "spawn ", "point ", "42 ", "\n", "door_", "Key "};
    std::string text;
    while (text.size() < size) text += kWords[random() % 7];
    text.resize(size);
    return text;
}

std::string MakeData(FuzzedDataProvider& in) {
    static const size_t kScales[] = {0, 100, 5000, kLargestFile};
    size_t size = in.ConsumeIntegralInRange<size_t>(0, kScales[in.ConsumeIntegralInRange(0, 3)]);
    std::minstd_rand random(in.ConsumeIntegral<uint32_t>());
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: return std::string(size, '\0');
        case 1: return std::string(size, static_cast<char>(random()));
        case 2: {
            std::string noise(size, '\0');
            for (char& c : noise) c = static_cast<char>(random());
            return noise;
        }
        default: return TextLike(random, size);
    }
}

// Names that fold alike would be one member to the zip layer: the second is
// not made.
Tree MakeTree(FuzzedDataProvider& in) {
    Tree tree;
    std::set<std::string> folded;
    for (int n = in.ConsumeIntegralInRange(1, kMostFiles); n > 0; --n) {
        File file = {MakeName(in), MakeData(in), in.ConsumeBool()};
        if (folded.insert(PlainFold(file.m_Name)).second) tree.m_Files.push_back(file);
    }
    tree.m_Options.m_Threads = in.ConsumeIntegralInRange(1, 2);
    tree.m_Options.m_Level = in.ConsumeIntegralInRange(1, 9);
    tree.m_Options.m_Align = in.ConsumeBool() ? kPage : 0;
    tree.m_Mode = static_cast<ZipNameMode>(in.ConsumeIntegralInRange(0, 2));
    tree.m_MountFile = in.ConsumeBool();
    return tree;
}

// ------------------------------------------------------------- writing

std::string Scratch(const std::string& name) { return s_Scratch->Path(name); }

ZipWriteResult Write(const Tree& tree, std::vector<std::string>* paths) {
    std::vector<ZipSource> sources;
    for (size_t i = 0; i < tree.m_Files.size(); ++i) {
        paths->push_back(s_Scratch->Write("src" + std::to_string(i), tree.m_Files[i].m_Data));
    }
    for (size_t i = 0; i < tree.m_Files.size(); ++i)
        sources.push_back({(*paths)[i].c_str(), tree.m_Files[i].m_Name.c_str(), 1700000000, tree.m_Files[i].m_Store});
    ZipWriteResult result = {};
    char reason[512] = "";
    bool ok = WriteZip(Scratch("out.zip").c_str(), sources.data(), int32_t(sources.size()), tree.m_Options,
                       &result, reason, sizeof reason);
    Check(ok, "the writer failed", reason);
    Check(!std::filesystem::exists(Scratch("out.zip.part")), "the part file is left");
    return result;
}

// ----------------------------------------------------- the plain reading

uint32_t Crc(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

void CheckPlainMember(const std::string& archive, const PlainMember& m, const File& file, uint32_t align) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(archive.data());
    std::string data;
    Check(m.m_Name == file.m_Name, "member name or order", m.m_Name);
    Check(ReadPlainMember(bytes, archive.size(), m, kLargestFile, &data), "member is not clean", m.m_Name);
    Check(data == file.m_Data && m.m_Crc == Crc(file.m_Data), "member bytes", m.m_Name);
    Check(m.m_Method == 0 || (m.m_Method == 8 && m.m_CompSize < m.m_Size), "deflated without gain", m.m_Name);
    Check(!file.m_Store || m.m_Method == 0, "a member to be stored was deflated", m.m_Name);
    Check(m.m_Method == 8 || align == 0 || m.m_DataOffset % align == 0, "stored member not aligned", m.m_Name);
}

void CheckPlain(const std::string& archive, const Tree& tree, const ZipWriteResult& result) {
    PlainArchive plain;
    Check(ReadPlainZip(reinterpret_cast<const uint8_t*>(archive.data()), archive.size(), &plain), "no directory");
    Check(plain.m_Members.size() == tree.m_Files.size(), "member count");
    int32_t stored = 0;
    for (size_t i = 0; i < plain.m_Members.size(); ++i) {
        CheckPlainMember(archive, plain.m_Members[i], tree.m_Files[i], tree.m_Options.m_Align);
        stored += plain.m_Members[i].m_Method == 0;
    }
    Check(result.m_Stored == stored, "stored count");
    Check(result.m_Stored + result.m_Deflated == int32_t(tree.m_Files.size()), "counts do not add up");
    Check(result.m_Bytes == archive.size(), "archive size");
}

// ---------------------------------------------------------- the mount

std::string ReadMember(int32_t handle, int32_t size) {
    std::string data(size_t(size) + 1, '\0');  // one spare byte shows a member that runs long
    int32_t got = zipFile::zipRead(handle, &data[0], size + 1);
    data.resize(got > 0 ? size_t(got) : 0);
    return data;
}

void CheckMounted(const zipFile* zip, const File& file, uint32_t align) {
    int32_t h = zipFile::zipOpen(file.m_Name.c_str(), 1);
    Check(h >= 0, "a member does not open", file.m_Name);
    const zipEntry* e = s_ZipHandles[h].m_Entry;
    Check(zipFile::zipSize(h) == int32_t(file.m_Data.size()), "mounted size", file.m_Name);
    Check(ReadMember(h, int32_t(file.m_Data.size())) == file.m_Data, "mounted bytes", file.m_Name);
    Check(zip->CrcOf(e) == Crc(file.m_Data), "mounted CRC", file.m_Name);
    Check(zipFile::zipClose(h) == 0, "close", file.m_Name);
    if (e->m_Size != e->m_CompSize || align != kPage) return;
    zipEntry location = {};
    uint32_t page = 0;
    Check(zipFile::zipPaging(file.m_Name.c_str(), &location, &page), "an aligned stored member is not paged",
          file.m_Name);
    Check(location.m_Offset * kPage == e->m_Offset, "paged location", file.m_Name);
}

void CheckMount(const std::string& archive, const Tree& tree) {
    s_ZipNameMode = tree.m_Mode;
    zipFile* zip = tree.m_MountFile
                       ? zipFile::Mount(Scratch("out.zip").c_str(), 0, &LocalDevice.m_Device)
                       : zipFile::MountImage("out.zip", archive.data(), uint32_t(archive.size()), 0);
    Check(zip != nullptr, "the zip layer refuses the archive", zipFile::MountError());
    Check(zip->m_EntryCount == int32_t(tree.m_Files.size()), "mounted entry count");
    for (const File& file : tree.m_Files) CheckMounted(zip, file, tree.m_Options.m_Align);
    zipFile::UnmountAll();
    s_ZipNameMode = kZipNamesPlain;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    s_Capture = new CaptureSystem;  // kept for the whole run: nothing reaches the console
    s_Scratch = new TempDir;
    atexit(RemoveScratch);
    __sanitizer_set_death_callback(RemoveScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Tree tree = MakeTree(in);
    std::vector<std::string> paths;
    ZipWriteResult result = Write(tree, &paths);
    std::string archive = s_Scratch->Read("out.zip");
    CheckPlain(archive, tree, result);
    CheckMount(archive, tree);
    Check(s_Capture->m_Console.empty(), "the zip layer reported something", s_Capture->m_Console);
    for (const std::string& path : paths) std::filesystem::remove(path);
    std::filesystem::remove(Scratch("out.zip"));
    return 0;
}

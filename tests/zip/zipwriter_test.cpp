// The zip writer: the same bytes on any number of threads, members whole or
// streamed in pieces, archives the zip layer mounts in every name mode with
// every member whole, stored members on their sector boundary, and failures
// (interruptions included) that leave nothing behind and say why.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "file/stream.h"
#include "support/temp_dir.h"
#include "zip/zipfile.h"
#include "zip/ziprecords.h"
#include "zip/zipwriter.h"

namespace {

struct File {
    std::string m_Name;
    std::string m_Data;
    bool m_Store;
    bool m_Stored;  // what the writer should choose: deflate only what it shrinks
};

std::vector<File> Files() {
    std::mt19937 random(5);
    std::string noise(70000, '\0'), text;
    for (char& c : noise) c = static_cast<char>(random());
    while (text.size() < 300000) text += "level " + std::to_string(random() % 1000) + " spawn point\n";
    return {{"Maps/Level1.DAT", text, false, false}, {"noise.raw", noise, false, true},
            {"kept.txt", text.substr(0, 5000), true, true}, {"empty.txt", "", false, true},
            {"a/" + std::string(250, 'n'), "long name\n", false, true}, {"Sounds/b.wav", text.substr(7, 3001), false, false}};
}

class ZipWriter : public ::testing::Test {
protected:
    void TearDown() override {
        zipFile::UnmountAll();
        s_ZipNameMode = kZipNamesPlain;
    }

    // Writes the files into the scratch folder and the archive from them.
    // removeLast: the last source is gone by the time it is read.
    bool Write(const std::vector<File>& files, const ZipWriteOptions& options, const std::string& out,
               std::string* reason, bool removeLast = false) {
        std::vector<ZipSource> sources;
        m_Paths.clear();
        for (size_t i = 0; i < files.size(); ++i) m_Paths.push_back(m_Dir.Write("src" + std::to_string(i), files[i].m_Data));
        if (removeLast) std::filesystem::remove(m_Paths.back());
        for (size_t i = 0; i < files.size(); ++i)
            sources.push_back(ZipSource{m_Paths[i].c_str(), files[i].m_Name.c_str(), 1700000000, files[i].m_Store});
        ZipWriteResult result;
        char text[600] = "";
        bool ok = WriteZip(m_Dir.Path(out).c_str(), sources.data(), static_cast<int32_t>(sources.size()), options,
                           &result, text, sizeof text);
        *reason = text;
        if (ok) {
            EXPECT_EQ(result.m_Bytes, m_Dir.Read(out).size());
        }
        return ok;
    }

    // Every name mode mounts the archive and serves each member whole, with
    // the method the writer should have chosen, stored ones on a sector.
    void ExpectEveryMemberServed(const std::string& first, const std::vector<File>& files, bool aligned = true) {
        for (ZipNameMode mode : {kZipNamesPlain, kZipNamesPacked, kZipNamesFrontCoded}) {
            SCOPED_TRACE(mode);
            s_ZipNameMode = mode;
            zipFile* zip = zipFile::MountImage("out.zip", first.data(), static_cast<uint32_t>(first.size()), 0);
            ASSERT_NE(zip, nullptr);
            ASSERT_EQ(zip->m_EntryCount, static_cast<int32_t>(files.size()));
            ASSERT_TRUE(zipFile::zipSelect(true));
            for (const File& f : files) {
                zipEntry* entry = zip->Find(f.m_Name.c_str());
                ASSERT_NE(entry, nullptr) << f.m_Name;
                ASSERT_TRUE(zip->Locate(entry)) << f.m_Name;
                bool stored = entry->m_Size == entry->m_CompSize;
                EXPECT_EQ(stored, f.m_Stored) << f.m_Name;
                if (stored && aligned) {
                    EXPECT_EQ(entry->m_Offset % 2048, 0u) << f.m_Name;
                }
                Stream* s = Stream::Open(f.m_Name.c_str(), true);
                ASSERT_NE(s, nullptr);
                std::string back(f.m_Data.size() + 1, '\0');
                back.resize(static_cast<size_t>(std::max(0, s->Read(&back[0], static_cast<int32_t>(back.size())))));
                s->Close();
                EXPECT_TRUE(back == f.m_Data) << f.m_Name;
            }
            zipFile::zipSelect(false);
            zipFile::UnmountAll();
        }
    }

    TempDir m_Dir;
    std::vector<std::string> m_Paths;
};

// With small pieces every member but the short ones streams: the text is
// deflated piece by piece, the noise turns out not to shrink and goes in
// again stored (and aligned, the file cut to the archive's length), and the
// kept file is stored as it streams.
TEST_F(ZipWriter, SameBytesOnAnyThreadCountAndEveryMemberServed) {
    std::vector<File> files = Files();
    std::string reason, first;
    for (uint32_t piece : {1u << 20, 4096u}) {
        SCOPED_TRACE(piece);
        first.clear();
        for (int32_t threads : {1, 2, 7}) {
            ZipWriteOptions options;
            options.m_Threads = threads;
            options.m_Piece = piece;
            ASSERT_TRUE(Write(files, options, "out.zip", &reason)) << reason;
            if (first.empty()) first = m_Dir.Read("out.zip");
            EXPECT_TRUE(first == m_Dir.Read("out.zip")) << threads << " threads";
        }
        EXPECT_FALSE(m_Dir.Exists("out.zip.part"));
        ExpectEveryMemberServed(first, files);
    }
    ZipWriteOptions unaligned;
    unaligned.m_Align = 0;
    ASSERT_TRUE(Write(files, unaligned, "none.zip", &reason)) << reason;
    EXPECT_LT(m_Dir.Read("none.zip").size() + 2048, m_Dir.Read("out.zip").size());
    // Alone and unaligned, noise written again stored leaves more of its
    // deflated bytes behind than its directory covers: the file is cut.
    unaligned.m_Piece = 4096;
    ASSERT_TRUE(Write({files[1]}, unaligned, "lone.zip", &reason)) << reason;
    ExpectEveryMemberServed(m_Dir.Read("lone.zip"), {files[1]}, false);
}

std::atomic<int32_t> s_Polls{0};
bool CancelAtOnce() { return true; }
bool CancelAtTheFifthPoll() { return ++s_Polls >= 5; }

ZipWriteOptions Limited(uint64_t maxBytes) {
    ZipWriteOptions options;
    options.m_MaxBytes = maxBytes;
    return options;
}

ZipWriteOptions Cancelled(bool (*cancelled)()) {
    ZipWriteOptions options;
    options.Cancelled = cancelled;
    options.m_Piece = 4096;
    return options;
}

TEST_F(ZipWriter, AFailedWriteLeavesNothingAndKeepsTheOldArchive) {
    struct Case {
        const char* m_Label;
        std::vector<File> m_Files;
        const char* m_Out;
        const char* m_Reason;
        bool m_RemoveSource;
        ZipWriteOptions m_Options;
    };
    const File a = {"a.txt", "a", false, true}, kept = {"a.txt", "a", true, true};
    const File text = {"a.txt", Files()[0].m_Data, false, false}, keptText = {"a.txt", text.m_Data, true, true};
    // One stored byte ends at 2049; its directory entry and the end record
    // take 78 bytes more.
    const Case kCases[] = {
        {"a source gone before it is read", {a, {"b.txt", "b", false, true}}, "old.zip", "cannot read", true, {}},
        {"a name too long", {{std::string(256, 'x'), "x", false, true}}, "old.zip", "longer than 255", false, {}},
        {"an empty name", {{"", "x", false, true}}, "old.zip", "is empty", false, {}},
        {"a folder that does not exist", {a}, "none/new.zip", "cannot create 'PART'", false, {}},
        {"members past the limit", {keptText}, "old.zip", "the archive would pass 3000 bytes", false, Limited(3000)},
        {"a directory past the limit", {kept}, "old.zip", "the central directory would pass 2100 bytes", false,
         Limited(2100)},
        {"interrupted before it began", {a}, "old.zip", "interrupted", false, Cancelled(CancelAtOnce)},
        {"interrupted between pieces", {text}, "old.zip", "interrupted", false, Cancelled(CancelAtTheFifthPoll)},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.m_Label);
        m_Dir.Write("old.zip", "the old archive");
        s_Polls = 0;
        std::string reason, expected = c.m_Reason;
        size_t part = expected.find("PART");
        if (part != std::string::npos) expected.replace(part, 4, m_Dir.Path(c.m_Out) + ".part");
        EXPECT_FALSE(Write(c.m_Files, c.m_Options, c.m_Out, &reason, c.m_RemoveSource));
        EXPECT_NE(reason.find(expected), std::string::npos) << reason;
        EXPECT_EQ(m_Dir.Read("old.zip"), "the old archive");
        EXPECT_FALSE(m_Dir.Exists(std::string(c.m_Out) + ".part"));
        EXPECT_FALSE(m_Dir.Exists("none"));
    }
}

// Readers decode a name as UTF-8 when its flag says so: only names that are
// UTF-8 and go past ASCII may claim it.
TEST(ZipRecords, OnlyUtf8NamesBeyondAsciiClaimTheFlag) {
    const std::pair<const char*, bool> kNames[] = {
        {"Maps/level1.dat", false},          {"Caf\xc3\xa9.tex", true},        {"Caf\xe9.tex", false},
        {"\xe2\x82\xac/\xf0\x9f\x8e\xae.bin", true}, {"over\xc0\xaflong", false},  {"sur\xed\xa0\x80rogate", false},
        {"cut\xe2\x82", false},            {"past\xf4\x90\x80\x80max", false},
    };
    for (const auto& [name, utf8] : kNames) EXPECT_EQ(IsUtf8BeyondAscii(name), utf8) << name;
}

TEST_F(ZipWriter, MoreMembersThanTheFormatHoldsAreRefusedUnread) {
    std::vector<ZipSource> sources(kZipMaxMembers + 1, ZipSource{"nowhere", "n", 0, false});
    ZipWriteResult result;
    char reason[600];
    EXPECT_FALSE(WriteZip(m_Dir.Path("big.zip").c_str(), sources.data(), kZipMaxMembers + 1, ZipWriteOptions(),
                          &result, reason, sizeof reason));
    EXPECT_NE(std::string(reason).find("65535"), std::string::npos) << reason;
    EXPECT_FALSE(m_Dir.Exists("big.zip.part"));
}

}  // namespace

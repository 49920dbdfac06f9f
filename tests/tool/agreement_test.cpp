// The indexed tool against a plain reading of the grouping rules, on
// generated dumps: names repeated in mixed case, high bytes, zero bytes,
// carriage returns, lines longer than a line buffer.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "file/stream.h"
#include "support/capture_system.h"
#include "support/memory_device.h"
#include "support/reference_grouping.h"
#include "tool/dumpreader.h"
#include "tool/segsorter.h"

namespace {

std::string RandomName(std::mt19937& random) {
    static const char* const kStems[] = {"a.dat", "Data\\B.dat", "caf\xE9.tex", "CAF\xC9.TEX",
                                         "x)y.bin", "$\\lvl\\one", "$/lvl/one", "$x", "ab",
                                         "", "intro", "INTRO"};
    std::string name = kStems[random() % 12];
    if (random() % 3 == 0) name = Fold(name);
    if (random() % 40 == 0) name += std::string(3000 + random() % 2500, 'n');
    return name;
}

std::string RandomDump(std::mt19937& random) {
    std::string dump;
    for (int lines = random() % 60; lines > 0; --lines) {
        switch (random() % 10) {
            case 0: dump += "::LoadSeg::(" + RandomName(random) + ")"; break;
            case 1: dump += "::LOADSEG::(" + RandomName(random) + ")    // 4ms"; break;
            case 2: dump += std::string("noise line ") + char(random() % 256); break;
            case 3: dump += std::string("::OPEN::(a\0b.dat)", 17); break;
            default: dump += "::open::(" + RandomName(random) + ")"; break;
        }
        dump += random() % 4 ? "\n" : "\r\n";
    }
    if (random() % 5 == 0) dump += "::OPEN::(unterminated.dat)";
    return dump;
}

class AgreementTest : public ::testing::Test {
protected:
    void SetUp() override {
        s_MemoryFs.Reset();
        s_ReadDevice = s_WriteDevice = const_cast<FileDevice*>(&MemoryDevice);
    }
    void TearDown() override { s_ReadDevice = s_WriteDevice = &LocalDevice.m_Device; }
    CaptureSystem m_System;
};

TEST_F(AgreementTest, IndexedToolAgreesWithTheListRulesOnGeneratedDumps) {
    std::mt19937 random(20261209);
    for (int round = 0; round < 400; ++round) {
        std::string dump = RandomDump(random);
        s_MemoryFs.m_Files["dump"].assign(dump.begin(), dump.end());
        ASSERT_EQ(ProcessDump("dump", "sorted", nullptr), 1);
        ASSERT_EQ(s_MemoryFs.Text("sorted"), Reference(dump)) << "round " << round;
    }
}

TEST_F(AgreementTest, BlockReaderHandsOutTheLineBufferPieces) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::string text;
        while (text.size() < 300000) {
            text += std::string(random() % 9000 * (random() % 3 == 0), 'x');
            text += std::string(random() % 100, 'y') + (random() % 2 ? "\n" : "\r\n");
        }
        s_MemoryFs.m_Files["text"].assign(text.begin(), text.end());
        Stream* stream = Stream::Open("text", true);
        ASSERT_NE(stream, nullptr);
        DumpReader reader(stream);
        std::vector<std::string> got;
        const char* piece;
        size_t length;
        while (reader.Next(&piece, &length)) got.emplace_back(piece, length);
        EXPECT_FALSE(reader.Failed());
        stream->Close();
        ASSERT_EQ(got, Pieces(text)) << "round " << round;
    }
}

// Reading runs ahead on a thread of its own, by at most the ring of slots;
// a reader dropped part way stops it, rather than hanging or reading on.
TEST_F(AgreementTest, AReaderDroppedPartWayStopsReadingAhead) {
    const size_t chunks = 3 * ReadAhead::kSlots;
    std::string dump;
    while (dump.size() < chunks * ReadAhead::kChunk) dump += "::OPEN::(some\\file.dat)\n";
    s_MemoryFs.m_Files["dump"].assign(dump.begin(), dump.end());
    Stream* stream = Stream::Open("dump", true);
    ASSERT_NE(stream, nullptr);
    {
        DumpReader reader(stream);
        const char* piece;
        size_t length;
        ASSERT_TRUE(reader.Next(&piece, &length));
        EXPECT_EQ(std::string(piece, length), "::OPEN::(some\\file.dat)\n");
    }
    size_t reads = 0;
    for (const std::string& call : s_MemoryFs.m_Calls) reads += call.rfind("read ", 0) == 0;
    EXPECT_GE(reads, 1u);
    EXPECT_LE(reads, size_t(ReadAhead::kSlots) + 1) << "read on past the ring";
    stream->Close();
}

}  // namespace

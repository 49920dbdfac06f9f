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
#include "tool/dumpreader.h"
#include "tool/segsorter.h"

namespace {

std::string Fold(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

// The pieces fgetline hands out with a 4096-byte buffer.
std::vector<std::string> Pieces(const std::string& dump) {
    std::vector<std::string> pieces;
    for (size_t at = 0; at < dump.size();) {
        size_t end = dump.find('\n', at);
        size_t length = end == std::string::npos ? dump.size() - at : end - at + 1;
        length = std::min<size_t>(length, 4095);
        pieces.push_back(dump.substr(at, length));
        at += length;
    }
    return pieces;
}

struct RefSegment {
    std::string m_Name;
    std::vector<std::string> m_Files;
};

// Every lookup walks the lists from the head, as the rules are written.
std::string Reference(const std::string& dump) {
    std::vector<RefSegment> segments;
    int current = -1;
    auto begin = [&](const std::string& name) {
        for (current = 0; current < int(segments.size()); ++current)
            if (Fold(segments[current].m_Name) == Fold(name)) return;
        segments.push_back({name, {}});
    };
    for (const std::string& piece : Pieces(dump)) {
        std::string line(piece.c_str());  // a zero byte ends the line
        size_t close = line.size() > 12 ? line.find(')', 12) : std::string::npos;
        if (close == std::string::npos) continue;
        if (Fold(line.substr(0, 11)) == "::loadseg::") {
            begin(line.substr(12, close - 12));
        } else if (Fold(line.substr(0, 8)) == "::open::") {
            if (current < 0) begin("default");
            std::string name = line.substr(9, close - 9);
            if (name[0] == '$' && (name[1] == '\\' || name[1] == '/')) name = name.substr(2);
            std::vector<std::string>& files = segments[current].m_Files;
            bool seen = false;
            for (const std::string& f : files) seen |= Fold(f) == Fold(name);
            if (!seen) files.push_back(name);
        }
    }
    std::string out;
    for (const RefSegment& s : segments) {
        out += "::LOADSEG::(" + s.m_Name + ")\r\n";
        for (const std::string& f : s.m_Files) {
            out += "::OPEN::(" + f + ")";
            for (const RefSegment& other : segments)
                for (const std::string& g : other.m_Files)
                    if (&other != &s && g == f) out += "  // DupSeg " + other.m_Name;
            out += "\r\n";
        }
    }
    return out;
}

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

}  // namespace

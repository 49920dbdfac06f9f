// Streams on the in-memory device, whose call log shows every device call a
// stream makes: reading, writing, seeking and flushing through the buffer, the
// table of 32 entries, reading lines, and the file mapper's brackets.
#include "file/stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "core/assert.h"
#include "core/output.h"
#include "file/filemapper.h"
#include "platform/platform.h"
#include "support/capture_system.h"
#include "support/memory_device.h"
#include "data/param.h"

namespace {

typedef std::vector<std::string> Calls;

class Streams : public ::testing::Test {
protected:
    void SetUp() override {
        s_MemoryFs.Reset();
        s_ReadDevice = s_WriteDevice = const_cast<FileDevice*>(&MemoryDevice);
    }

    void TearDown() override {
        s_FileMapper = nullptr;
        for (Stream& s : s_StreamTable)
            if (s.m_Device) s.Close();
        s_ReadDevice = s_WriteDevice = &LocalDevice.m_Device;
        s_OpenHook = nullptr;
        s_StreamDebug = 0;
    }

    // Bytes that differ from their neighbours, so a shifted copy shows.
    static std::string Pattern(size_t size) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 251);
        return bytes;
    }

    static void AddFile(const std::string& name, const std::string& bytes) {
        s_MemoryFs.m_Files[name].assign(bytes.begin(), bytes.end());
    }

    // The device calls made since the last call of this function.
    static Calls TakeCalls() { return std::exchange(s_MemoryFs.m_Calls, {}); }
};

TEST_F(Streams, ReadsRefillTheBufferOrGoStraightThrough) {
    const std::string file = Pattern(10000);
    AddFile("big", file);
    Stream* s = Stream::Open("big", true);
    Stream* t = Stream::Open("big", true);
    ASSERT_TRUE(s && t);
    TakeCalls();
    std::string got(10000, '\0');
    // stream, count, result, device calls, file offset of the bytes, then the buffer
    // position and the file offset of the buffer afterwards
    const std::tuple<Stream*, int32_t, int32_t, Calls, int32_t, int32_t, int32_t> steps[] = {
        {s, 0, 0, {}, 0, 0, 0},  // a read of nothing calls no device
        {s, 10, 10, {"read 100 4096"}, 0, 10, 0},
        {s, 5000, 5000, {"read 100 4096"}, 10, 914, 4096},   // 4086 buffered + 914 refilled
        {s, 9000, 4990, {"read 100 5818"}, 5010, 0, 10000},  // 3182 buffered, then short
        {s, 10, 0, {"read 100 4096"}, 10000, 0, 10000},      // end of file
        {t, 10, 10, {"read 101 4096"}, 0, 10, 0},
        {t, 9000, 9000, {"read 101 4914"}, 10, 0, 9010},  // 4086 buffered + 4914 straight
        {t, 4096, 990, {"read 101 4096"}, 9010, 0, 10000},
    };
    for (const auto& [stream, count, result, calls, from, bufferPos, fileOffset] : steps) {
        SCOPED_TRACE("read " + std::to_string(count) + " from " + std::to_string(from));
        EXPECT_EQ(result, stream->Read(&got[0], count));
        EXPECT_EQ(calls, TakeCalls());
        EXPECT_EQ(file.substr(from, result), got.substr(0, result));
        EXPECT_EQ(bufferPos, stream->m_BufferPos);
        EXPECT_EQ(fileOffset, stream->m_FileOffset);
    }
}

TEST_F(Streams, ReadAndWriteTakeTurnsAtTheStreamPosition) {
    AddFile("rw", std::string(200, '.'));
    Stream* s = Stream::Open("rw", false);
    ASSERT_NE(nullptr, s);
    // Moving nothing needs no buffer; the sanitizer build checks no copy touches one.
    EXPECT_EQ(0, s->Write(nullptr, 0));
    EXPECT_EQ(0, s->Read(nullptr, 0));
    char got[16];
    ASSERT_EQ(10, s->Read(got, 10));
    TakeCalls();
    EXPECT_EQ(5, s->Write("HELLO", 5));
    EXPECT_EQ(Calls({"seek 100 10 0"}), TakeCalls()) << "back to the stream position first";
    EXPECT_EQ(5, s->Flush()) << "the result of the device write";
    EXPECT_EQ(0, s->Flush()) << "nothing left to write";
    EXPECT_EQ(100, s->Write(std::string(100, 'x').data(), 100));
    EXPECT_EQ(10, s->Read(got, 10));
    EXPECT_EQ(Calls({"write 100 5", "write 100 100", "read 100 4096"}), TakeCalls());
    EXPECT_EQ(125, s->Flush()) << "unread bytes given back: the position the device went to";
    EXPECT_EQ(5, s->Read(got, 5));
    EXPECT_EQ(0, s->Close());
    EXPECT_EQ(Calls({"seek 100 125 0", "read 100 4096", "close 100"}), TakeCalls());
    EXPECT_EQ(std::string(10, '.') + "HELLO" + std::string(100, 'x') + std::string(85, '.'),
              s_MemoryFs.Text("rw"));
}

TEST_F(Streams, WritesWaitForAFullBufferAndCloseWritesTheRest) {
    const std::string name = std::string(150, 'a') + std::string(50, 'b');
    Stream* s = Stream::Create(name.c_str());
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(Calls({"create " + name}), TakeCalls()) << "the device gets the whole name";
    EXPECT_EQ(name.substr(0, 159), s->m_Name);
    const std::string data = Pattern(20000);
    size_t at = 0;
    const std::pair<int32_t, Calls> steps[] = {
        {4000, {}}, {96, {"write 100 4096"}},                     // exactly full: written at once
        {100, {}},  {5000, {"write 100 100", "write 100 5000"}},  // pending, then one write
        {10, {}},   {4090, {"write 100 4096"}},                   // fills on the way, 4 stay
    };
    for (const auto& step : steps) {
        EXPECT_EQ(step.first, s->Write(data.data() + at, step.first));
        at += step.first;
        EXPECT_EQ(step.second, TakeCalls()) << "after writing " << step.first;
    }
    EXPECT_EQ(0, s->Close());
    EXPECT_EQ(Calls({"write 100 4", "close 100"}), TakeCalls());
    EXPECT_EQ(data.substr(0, at), s_MemoryFs.Text(name));
}

TEST_F(Streams, DeviceFailuresGiveMinusOneAndResetTheBuffer) {
    AddFile("f", std::string(10000, '.'));
    s_FaultPlan = FaultPlan{s_ReadDevice};
    s_ReadDevice = s_WriteDevice = const_cast<FileDevice*>(&FaultDevice);
    char got[4096];
    Stream* s = Stream::Open("f", false);
    ASSERT_NE(nullptr, s);
    ASSERT_EQ(10, s->Read(got, 10));
    s_FaultPlan.m_FailSeekFrom = 1;
    EXPECT_EQ(-1, s->Flush());
    EXPECT_EQ(0, s->m_BufferFill) << "the buffer is reset even when the seek fails";
    s_FaultPlan.m_FailWriteFrom = 1;
    ASSERT_EQ(3, s->Write("abc", 3));
    EXPECT_EQ(-1, s->Flush());
    EXPECT_EQ(0, s->m_BufferPos) << "the buffer is reset even when the write fails";
    EXPECT_EQ(13, s->m_FileOffset) << "pending bytes count as written";
    EXPECT_EQ(-1, s->Write(got, 4096));
    s_FaultPlan.m_FailReadFrom = 1;
    EXPECT_EQ(-1, s->Read(got, 10));
}

// Past 1023 characters Printf fails its assertion. Passed over, it writes 1023;
// otherwise the fatal stop closes every stream, and the caller the debugger
// resumes finds its stream gone.
TEST_F(Streams, PrintfWritesAtMost1023Characters) {
    CaptureSystem capture;
    capture.m_DebuggerResumes = true;
    AddFile("in", Pattern(100));
    Stream* p = Stream::Create("p");
    Stream* in = Stream::Open("in", true);
    ASSERT_TRUE(p && in);
    char got[10];
    ASSERT_EQ(10, in->Read(got, 10));
    assertquery.m_Value = 1;  // a failed assertion asks, and Retry passes it over
    capture.m_BoxAnswers.push_back(plat::kIdRetry);
    p->Printf("%s", std::string(1023, 'a').c_str());
    p->Printf("%s", std::string(1024, 'b').c_str());
    assertquery.m_Value = 0;
    ASSERT_EQ(1u, capture.m_Boxes.size()) << "only 1024 characters fail the assertion";
    EXPECT_NE(std::string::npos, capture.m_Boxes[0].m_Text.find("bytesWritten<1024 failed"));
    TakeCalls();
    in->Printf("%s", std::string(1100, 'z').c_str());
    EXPECT_EQ(Calls({"write 100 2046", "close 100", "close 101"}), TakeCalls());
    EXPECT_EQ(std::string(1023, 'a') + std::string(1023, 'b'), s_MemoryFs.Text("p"));
    EXPECT_EQ(0, in->m_BufferPos) << "nothing of the text was kept";
    EXPECT_EQ(std::make_tuple(-1, -1, -1),
              std::make_tuple(in->Read(got, 1), in->Write("x", 1), in->Flush()));
    EXPECT_EQ(Calls(), TakeCalls());
}

// A device write that ends in the fatal stop closes every stream, the one
// writing too; resumed by a debugger, its flush and close find it closed.
int32_t FatalWrite(int32_t, const void*, int32_t) {
    Quitf("host reset");
    return -1;
}

TEST_F(Streams, AFatalStopInsideAWriteLeavesTheStreamClosed) {
    for (bool resumes : {true, false}) {
        CaptureSystem capture;
        capture.m_DebuggerResumes = resumes;
        FileDevice device = MemoryDevice;
        device.Write = FatalWrite;
        s_WriteDevice = &device;
        Stream* s = Stream::Create("out");
        ASSERT_TRUE(s);
        s->Write("abc", 3);
        EXPECT_EQ(0, s->Close());
        EXPECT_EQ(nullptr, s->m_Device);
        EXPECT_TRUE(s_MemoryFs.m_Handles.empty()) << "the device handle was closed once";
        EXPECT_NE(std::string::npos, capture.m_Console.find("host reset"));
    }
}

// The 32 entries fill lowest free first; the 33rd open lists them all and stops.
TEST_F(Streams, TableReusesTheLowestFreeEntryAndStopsWhenFull) {
    auto open = [](int n) { return Stream::Open(("file" + std::to_string(n)).c_str(), true); };
    for (int n = 0; n < kMaxStreams + 2; ++n) AddFile("file" + std::to_string(n), "");
    for (int i = 0; i < kMaxStreams; ++i) ASSERT_EQ(&s_StreamTable[i], open(i));
    s_StreamTable[5].Close();
    s_StreamTable[3].Close();
    ASSERT_EQ(&s_StreamTable[3], open(32));
    ASSERT_EQ(&s_StreamTable[5], open(33));
    CaptureSystem capture;
    EXPECT_EQ(nullptr, open(0));
    std::string expected;
    for (int i = 0; i < kMaxStreams; ++i) {
        char line[64];
        const int n = i == 3 ? 32 : i == 5 ? 33 : i;
        snprintf(line, sizeof line, "%d. HANDLE=%x NAME=file%d<7>\n", i, 100 + n, n);
        expected += line;
    }
    EXPECT_EQ(0u, capture.m_Console.find(expected + "<12>Fatal Error: Out of file handles.<7>\n"))
        << capture.m_Console;
    for (const Stream& s : s_StreamTable) EXPECT_EQ(nullptr, s.m_Device);
}

// A device safe on many threads at once that keeps only the bytes written
// under each handle; a file's name is its handle.
const int kRaceThreads = 4, kRaceRounds = 3000;
std::atomic<int32_t> s_BytesWritten[kRaceThreads * kRaceRounds];

int32_t CountingOpen(const char* name, uint8_t) { return atoi(name); }
int32_t CountingCreate(const char* name) { return atoi(name); }
int32_t CountingWrite(int32_t handle, const void*, int32_t count) {
    s_BytesWritten[handle] += count;
    return count;
}
int32_t CountingClose(int32_t) { return 0; }

// Entries are taken and given back on several threads: no stream may lose
// the bytes it buffered to another's close, nor find the entry half reset.
TEST_F(Streams, ConcurrentOpenWriteCloseKeepsEveryStreamsBytes) {
    FileDevice device = {CountingOpen,  CountingCreate, nullptr, CountingWrite, nullptr,
                         CountingClose, nullptr,        nullptr, nullptr,       nullptr};
    s_WriteDevice = &device;
    for (auto& bytes : s_BytesWritten) bytes = 0;
    auto expected = [](int handle) { return 1 + handle % 100; };
    auto run = [&](int thread) {
        for (int round = 0; round < kRaceRounds; ++round) {
            int handle = thread * kRaceRounds + round;
            std::string name = std::to_string(handle);
            Stream* s =
                thread % 2 ? Stream::Open(name.c_str(), false) : Stream::Create(name.c_str());
            if (!s) return ADD_FAILURE() << "no stream for " << handle;
            s->Write(std::string(expected(handle), 'x').data(), expected(handle));
            s->Close();
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kRaceThreads; ++t) threads.emplace_back(run, t);
    for (std::thread& t : threads) t.join();
    int wrong = 0;
    for (int handle = 0; handle < kRaceThreads * kRaceRounds; ++handle)
        wrong += s_BytesWritten[handle] != expected(handle);
    EXPECT_EQ(0, wrong) << "streams whose bytes went astray";
}

TEST_F(Streams, FgetlineGivesLinesInPiecesOfAtMostSizeMinusOne) {
    AddFile("lines", std::string(5000, 'x') + "\nabc\r\n");
    Stream* s = Stream::Open("lines", true);
    ASSERT_NE(nullptr, s);
    char line[4096] = "yz";
    EXPECT_EQ(0, fgetline(line, 1, s));
    EXPECT_EQ(std::string("\0z", 2), std::string(line, 2)) << "size 1 stores the terminator only";
    EXPECT_EQ(Calls({"open lines 1"}), TakeCalls()) << "and calls no device";
    const std::string pieces[] = {std::string(4095, 'x'), std::string(905, 'x') + "\n", "abc\r\n",
                                  "", ""};
    for (const std::string& piece : pieces) {
        EXPECT_EQ(static_cast<int32_t>(piece.size()), fgetline(line, sizeof line, s));
        EXPECT_EQ(piece, line);
    }
    // Lines of many lengths across many refills, against a split made here.
    std::string text;
    // The first two lines put a line feed first in the second buffer.
    for (int length : {0, 4095, 1, 48, 49, 300, 4094, 4096, 9000, 17, 2, 5000, 3})
        text += std::string(length, static_cast<char>('a' + length % 26)) +
                (length % 3 == 2 ? "\r\n" : "\n");
    text += "no line feed at the end";
    AddFile("many", text);
    for (int32_t size : {4096, 50, 2}) {
        std::vector<std::string> expected(1), got;
        for (char c : text) {
            if (expected.back().size() == static_cast<size_t>(size - 1)) expected.emplace_back();
            expected.back() += c;
            if (c == '\n') expected.emplace_back();
        }
        Stream* many = Stream::Open("many", true);
        ASSERT_NE(nullptr, many);
        std::vector<char> buffer(size);
        for (int32_t n; (n = fgetline(buffer.data(), size, many)) > 0;) {
            ASSERT_EQ(static_cast<size_t>(n), strlen(buffer.data()));
            got.emplace_back(buffer.data(), n);
        }
        EXPECT_EQ(expected, got) << "size " << size;
    }
}

class RecordingMapper : public FileMapper {
public:
    bool SelectByName(const char* name, bool inner) override {
        // An archive under the saved path is selected.
        return Log("SelectByName(" + std::string(name) + Flag(inner)) &&
               strncmp(name, m_SavedPath, strlen(m_SavedPath)) == 0;
    }
    bool FinishOpen(int32_t handle, bool inner) override {
        bool allocated = false;
        for (const Stream& s : s_StreamTable) allocated |= s.m_Device && s.m_Handle == handle;
        return Log("FinishOpen(" + std::to_string(handle) + Flag(inner) +
                   (allocated ? " allocated" : ""));
    }
    bool EnterHandle(int32_t handle, bool inner) override {
        return Log("EnterHandle(" + std::to_string(handle) + Flag(inner));
    }
    void Leave(bool inner) override { Log("Leave(" + Flag(inner).substr(1)); }
    void LeaveAndForget(int32_t handle, bool inner) override {
        Log("LeaveAndForget(" + std::to_string(handle) + Flag(inner));
    }

private:
    static std::string Flag(bool inner) { return inner ? ",1)" : ",0)"; }
    static bool Log(const std::string& line) {
        s_MemoryFs.m_Calls.push_back("M " + line);
        return true;
    }
};

TEST_F(Streams, MapperBracketsEveryDeviceCallButTheDeviceFlush) {
    RecordingMapper mapper;
    s_FileMapper = &mapper;
    FileDevice device = MemoryDevice;
    device.Flush = [](int32_t handle) {
        s_MemoryFs.m_Calls.push_back("flush " + std::to_string(handle));
        return 77;
    };
    s_WriteDevice = &device;
    s_OpenHook = [](const char* name, bool readOnly) {  // refuses "denied"
        s_MemoryFs.m_Calls.push_back("hook " + std::string(name) + (readOnly ? " 1" : " 0"));
        return std::string(name) != "denied";
    };
    strcpy(mapper.m_SavedPath, "c:\\root\\");
    CaptureSystem capture;
    s_StreamDebug = 1;
    for (const char* name : {"f", "denied", "sub\\a.txt"}) AddFile(name, std::string(8000, '.'));
    Stream* s = nullptr;
    char got[5000];
    const std::string in = "M EnterHandle(100,0)", out = "M Leave(0)";
    const std::pair<std::function<void()>, Calls> steps[] = {
        {[&] { ASSERT_NE(nullptr, s = Stream::Open("f", false)); },
         {"M SelectByName(f,0)", "open f 0", "hook f 0", "M FinishOpen(100,0) allocated"}},
        {[&] { EXPECT_EQ(nullptr, Stream::Open("missing", true)); },
         {"M SelectByName(missing,0)", "open missing 1", "M FinishOpen(-1,0)"}},
        {[&] { EXPECT_NE(nullptr, Stream::Create("new")); },
         {"M SelectByName(new,0)", "create new", "M FinishOpen(101,0)"}},
        {[&] { EXPECT_EQ(nullptr, Stream::Open("denied", true)); },
         {"M SelectByName(denied,0)", "open denied 1", "hook denied 1", "M FinishOpen(102,0)",
          "M EnterHandle(102,0)", "close 102", "M LeaveAndForget(102,0)"}},
        {[&] { EXPECT_EQ(10, s->Read(got, 10)); }, {in, "read 100 4096", out}},
        {[&] { EXPECT_EQ(5000, s->Read(got, 5000)); }, {in, "read 100 4096", out}},
        {[&] { EXPECT_EQ(3, s->Write("abc", 3)); }, {in, "seek 100 5010 0", out, "flush 100"}},
        {[&] { EXPECT_EQ(77, s->Flush()); }, {in, "write 100 3", out, "flush 100"}},
        {[&] { EXPECT_EQ(4096, s->Write(got, 4096)); }, {"flush 100", in, "write 100 4096", out}},
        {[&] { EXPECT_EQ(0, s->Close()); }, {in, "close 100", "M LeaveAndForget(100,0)"}},
        // With an archive selected, the device sees the name past the saved path.
        {[&] { EXPECT_EQ(&s_StreamTable[0], Stream::Open("c:\\root\\sub\\a.txt", true)); },
         {"M SelectByName(c:\\root\\sub\\a.txt,0)", "open sub\\a.txt 1",
          "hook c:\\root\\sub\\a.txt 1", "M FinishOpen(103,0) allocated"}},
        {[&] { EXPECT_NE(nullptr, Stream::Create("c:\\root\\out.txt")); },
         {"M SelectByName(c:\\root\\out.txt,0)", "create c:\\root\\out.txt",
          "M FinishOpen(104,0)"}},
    };
    for (const auto& step : steps) {
        step.first();
        EXPECT_EQ(step.second, TakeCalls()) << "step " << &step - steps;
    }
    EXPECT_STREQ("c:\\root\\sub\\a.txt", s_StreamTable[0].m_Name) << "the whole name";
    EXPECT_EQ(
        "Stream::Open(f,0) ok<7>\nStream::Open(missing,1) failed<7>\nStream::Open(denied,1) ok<7>\n"
        "Stream::Open(c:\\root\\sub\\a.txt,1) ok<7>\n",
        capture.m_Console);
}

}  // namespace

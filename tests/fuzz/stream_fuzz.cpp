// Random sequences of stream calls over files kept in memory, held against a
// plain model: each file's bytes and each stream's position. Device failures
// are injected on demand through the failing wrapper; a stream that met one
// is only held to its contracts (no byte outside the caller's buffer, counts
// in range) and is closed, and its file taken as the device left it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/assert.h"
#include "file/stream.h"
#include "support/capture_system.h"
#include "support/memory_device.h"

namespace {

const int kFiles = 4;  // one stream a file at most: a second would read stale bytes

struct Model {
    std::string m_Bytes;  // as the program has written them, flushed or not
    bool m_Exists = false;
    Stream* m_Stream = nullptr;
    size_t m_Position = 0;
};

Model s_Files[kFiles];
CaptureSystem* s_Capture;

void Check(bool ok, const char* what) {
    if (ok) return;
    fprintf(stderr, "stream_fuzz: %s\n", what);
    abort();
}

std::string Name(int file) { return "f" + std::to_string(file); }

std::string Device(int file) { return s_MemoryFs.Text(Name(file)); }

int32_t Position(const Stream* s) { return s->m_FileOffset + s->m_BufferPos; }

// Everything written has reached the device once the stream flushed or closed.
void CheckFlushed(const Model& m, int file) { Check(Device(file) == m.m_Bytes, "device bytes"); }

void Put(Model& m, const std::string& bytes) {
    if (m.m_Bytes.size() < m.m_Position + bytes.size()) m.m_Bytes.resize(m.m_Position + bytes.size());
    m.m_Bytes.replace(m.m_Position, bytes.size(), bytes);
    m.m_Position += bytes.size();
}

void Open(Model& m, int file, FuzzedDataProvider& in) {
    bool create = in.ConsumeBool();
    Stream* s = create ? Stream::Create(Name(file).c_str())
                       : Stream::Open(Name(file).c_str(), in.ConsumeBool());
    Check((s != nullptr) == (create || m.m_Exists), "open result");
    if (!s) return;
    if (create) m.m_Bytes.clear();
    m.m_Exists = true;
    m.m_Stream = s;
    m.m_Position = 0;
}

void Read(Model& m, FuzzedDataProvider& in) {
    int32_t count = in.ConsumeIntegralInRange<int32_t>(0, 9000);
    std::vector<char> buffer(count);
    int32_t got = m.m_Stream->Read(buffer.data(), count);
    size_t left = m.m_Bytes.size() - m.m_Position;
    size_t expected = left < size_t(count) ? left : size_t(count);
    Check(got == int32_t(expected), "read count");
    Check(std::string(buffer.data(), got) == m.m_Bytes.substr(m.m_Position, got), "read bytes");
    m.m_Position += got;
}

void Write(Model& m, FuzzedDataProvider& in) {
    int32_t count = in.ConsumeIntegralInRange<int32_t>(0, 9000);
    std::string bytes(count, static_cast<char>(in.ConsumeIntegral<uint8_t>()));
    for (size_t i = 0; i < bytes.size(); i += 97) bytes[i] = static_cast<char>(i);
    Check(m.m_Stream->Write(bytes.data(), count) == count, "write count");
    Put(m, bytes);
}

// The model's line: up to size - 1 bytes, through the first line feed.
void GetLine(Model& m, FuzzedDataProvider& in) {
    int32_t size = in.ConsumeIntegralInRange<int32_t>(0, 5000);
    std::vector<char> buffer(size > 0 ? size : 1, '\x7f');
    int32_t got = fgetline(buffer.data(), size, m.m_Stream);
    std::string rest = m.m_Bytes.substr(m.m_Position, size > 1 ? size - 1 : 0);
    size_t lineFeed = rest.find('\n');
    if (lineFeed != std::string::npos) rest.resize(lineFeed + 1);
    Check(got == int32_t(rest.size()), "line count");
    Check(std::string(buffer.data(), got) == rest, "line bytes");
    Check(size == 0 || buffer[got] == 0, "line terminator");
    m.m_Position += got;
}

// Past 1023 characters an assertion fires (ignored here) and the first 1023 go.
void Print(Model& m, FuzzedDataProvider& in) {
    int width = in.ConsumeIntegralInRange<int>(0, 1100);
    int number = in.ConsumeIntegral<int>();
    m.m_Stream->Printf("%*d|%s", width, number, "x");
    char text[2048];
    int n = snprintf(text, sizeof text, "%*d|%s", width, number, "x");
    Put(m, std::string(text, n < 1023 ? n : 1023));
}

void Close(Model& m, int file) {
    Check(m.m_Stream->Close() == 0, "close");
    m.m_Stream = nullptr;
    CheckFlushed(m, file);
}

// One call fails at the device; the stream may now have lost what it held.
void Faulty(Model& m, int file, FuzzedDataProvider& in) {
    s_FaultPlan.m_FailReadFrom = s_FaultPlan.m_Reads + 1;
    s_FaultPlan.m_FailWriteFrom = s_FaultPlan.m_Writes + 1;
    s_FaultPlan.m_FailSeekFrom = s_FaultPlan.m_Seeks + 1;
    int32_t count = in.ConsumeIntegralInRange<int32_t>(0, 9000);
    std::vector<char> buffer(count);
    int32_t got = in.ConsumeBool() ? m.m_Stream->Read(buffer.data(), count)
                                   : m.m_Stream->Write(buffer.data(), count);
    Check(got >= -1 && got <= count, "count under failure");
    s_FaultPlan.m_FailReadFrom = s_FaultPlan.m_FailWriteFrom = s_FaultPlan.m_FailSeekFrom = 0;
    m.m_Stream->Close();
    m.m_Stream = nullptr;
    m.m_Bytes = Device(file);
}

void Step(FuzzedDataProvider& in) {
    int file = in.ConsumeIntegralInRange<int>(0, kFiles - 1);
    Model& m = s_Files[file];
    if (!m.m_Stream) return Open(m, file, in);
    switch (in.ConsumeIntegralInRange<int>(0, 6)) {
        case 0: Read(m, in); break;
        case 1: Write(m, in); break;
        case 2: GetLine(m, in); break;
        case 3: Print(m, in); break;
        case 4: Check(m.m_Stream->Flush() >= 0, "flush"); CheckFlushed(m, file); break;
        case 5: return Close(m, file);
        case 6: return Faulty(m, file, in);
    }
    Check(Position(m.m_Stream) == int32_t(m.m_Position), "stream position");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    s_Capture = new CaptureSystem;
    s_IgnoreAsserts = true;
    s_FaultPlan.m_Inner = const_cast<FileDevice*>(&MemoryDevice);
    s_ReadDevice = s_WriteDevice = const_cast<FileDevice*>(&FaultDevice);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    s_MemoryFs.Reset();
    s_FaultPlan = FaultPlan{const_cast<FileDevice*>(&MemoryDevice)};
    for (int file = 0; file < kFiles; ++file) {
        s_Files[file] = Model();
        if (!in.ConsumeBool()) continue;
        s_Files[file].m_Bytes = in.ConsumeRandomLengthString(6000);
        s_Files[file].m_Exists = true;
        s_MemoryFs.m_Files[Name(file)].assign(s_Files[file].m_Bytes.begin(),
                                              s_Files[file].m_Bytes.end());
    }
    while (in.remaining_bytes() > 0) Step(in);
    for (int file = 0; file < kFiles; ++file)
        if (s_Files[file].m_Stream) Close(s_Files[file], file);
    s_Capture->m_Console.clear();
    return 0;
}

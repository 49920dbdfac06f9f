#include "tool/dumpreader.h"

#include <cstdint>
#include <cstring>

#include "core/memory.h"
#include "file/stream.h"

// Large enough that reads are few, small enough that fresh pages stay few.
const size_t kBlockBytes = 1 << 17;

DumpReader::DumpReader(Stream* stream)
    : m_Stream(stream), m_Block(static_cast<char*>(operator new(kBlockBytes, __FILE__, __LINE__))) {
    m_Failed = m_Block == nullptr;
}

DumpReader::~DumpReader() { operator delete(m_Block, __FILE__, __LINE__); }

// Keeps the unread rest and reads behind it. The request is always far above
// the stream's buffer size, so it goes straight to the device.
bool DumpReader::Refill() {
    size_t rest = m_End - m_Pos;
    memmove(m_Block, m_Block + m_Pos, rest);
    m_Pos = 0;
    m_End = rest;
    int32_t n = m_Stream->Read(m_Block + rest, static_cast<int32_t>(kBlockBytes - rest));
    if (n < 0) m_Failed = true;
    if (n <= 0) m_AtEnd = true;
    if (n > 0) m_End += static_cast<size_t>(n);
    return !m_Failed;
}

bool DumpReader::Take(size_t length, const char** piece, size_t* pieceLength) {
    *piece = m_Block + m_Pos;
    *pieceLength = length;
    m_Pos += length;
    return true;
}

bool DumpReader::Next(const char** piece, size_t* length) {
    while (!m_Failed) {
        size_t available = m_End - m_Pos;
        size_t window = available < kMaxPiece ? available : kMaxPiece;
        const char* start = m_Block + m_Pos;
        const char* lineFeed = static_cast<const char*>(memchr(start, '\n', window));
        if (lineFeed) return Take(lineFeed - start + 1, piece, length);
        if (available >= kMaxPiece) return Take(kMaxPiece, piece, length);
        if (m_AtEnd) return available > 0 && Take(available, piece, length);
        Refill();
    }
    return false;
}

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
    m_BlockHoldsZero = memchr(m_Block, 0, m_End) != nullptr;
    return !m_Failed;
}

// The next piece, if the block in hand holds all of it.
bool DumpReader::TakeBuffered(DumpPiece* piece) {
    size_t available = m_End - m_Pos;
    size_t window = available < kMaxPiece ? available : kMaxPiece;
    const char* start = m_Block + m_Pos;
    const char* lineFeed = static_cast<const char*>(memchr(start, '\n', window));
    size_t length = lineFeed ? lineFeed - start + 1 : 0;
    if (!lineFeed && available >= kMaxPiece) length = kMaxPiece;
    if (!lineFeed && m_AtEnd) length = available;  // the last line, without a line feed
    if (length == 0) return false;
    *piece = DumpPiece{start, length, m_BlockHoldsZero};
    m_Pos += length;
    return true;
}

size_t DumpReader::NextBatch(DumpPiece* pieces, size_t max) {
    size_t count = 0;
    while (count < max && !m_Failed) {
        if (TakeBuffered(&pieces[count])) {
            count++;
        } else if (count > 0 || m_AtEnd) {
            break;
        } else {
            Refill();
        }
    }
    return count;
}

bool DumpReader::Next(const char** piece, size_t* length) {
    DumpPiece one;
    if (NextBatch(&one, 1) == 0) return false;
    *piece = one.m_Text;
    *length = one.m_Length;
    return true;
}

#include "tool/dumpreader.h"

#include <cstdint>
#include <cstring>

// Takes the next block with the unread rest of this one in front of it.
bool DumpReader::Refill() {
    size_t rest = m_End - m_Pos;
    char* start = nullptr;
    int32_t n = m_Ahead.Next(m_Block + m_Pos, rest, &start);
    if (n < 0) m_Failed = true;
    if (n <= 0) m_AtEnd = true;
    if (start) m_Block = start;
    m_Pos = 0;
    m_End = rest + (n > 0 ? static_cast<size_t>(n) : 0);
    m_BlockHoldsZero = m_End > 0 && memchr(m_Block, 0, m_End) != nullptr;
    return !m_Failed;
}

// The next piece, if the block in hand holds all of it.
bool DumpReader::TakeBuffered(DumpPiece* piece) {
    size_t available = m_End - m_Pos;
    if (available == 0) return false;  // before the first block there is none
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

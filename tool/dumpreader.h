// Hands out a load dump in the pieces fgetline gives with a 4096-byte line
// buffer (a line up to and including its line feed, or 4095 bytes of a longer
// one), but reads the stream ahead in large blocks that bypass its small
// buffer.
#pragma once

#include <cstddef>

#include "tool/readahead.h"

struct Stream;

const size_t kMaxPiece = 4095;

struct DumpPiece {
    const char* m_Text;
    size_t m_Length;
    // False when the piece surely holds no zero byte, which would end it as
    // a text line; zero bytes are rare, so whole blocks are checked at once.
    bool m_MayHoldZero;
};

class DumpReader {
public:
    // The stream is read on another thread, when one can be had, until the
    // reader is gone.
    explicit DumpReader(Stream* stream) : m_Ahead(stream) {}
    // false at the end of the dump, or when a read failed (then Failed()).
    bool Next(const char** piece, size_t* length);
    // Up to max pieces, all from the block in hand (they stay valid until the
    // next call); another block is read only when none is left. 0 at the end
    // of the dump or when a read failed.
    size_t NextBatch(DumpPiece* pieces, size_t max);
    bool Failed() const { return m_Failed; }
    // Set with Failed() when the reader had no memory to read into.
    bool OutOfMemory() const { return m_Ahead.OutOfMemory(); }

    DumpReader(const DumpReader&) = delete;
    DumpReader& operator=(const DumpReader&) = delete;

private:
    bool Refill();
    bool TakeBuffered(DumpPiece* piece);

    ReadAhead m_Ahead;
    char* m_Block = nullptr;
    size_t m_Pos = 0;
    size_t m_End = 0;
    bool m_AtEnd = false;
    bool m_Failed = false;
    bool m_BlockHoldsZero = true;
};

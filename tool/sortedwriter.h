// Writes the sorted file from the model: segment headers, their files, and
// on each file the other segments that open it spelled the same way. Text is
// gathered in a large block and handed to the stream in few writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tool/arena.h"

struct LoadSegment;
struct NameGroup;
struct OpenEntry;
struct Stream;

class SortedWriter {
public:
    // The holders' lists and the segment table come from the model's arena
    // and stay with it.
    explicit SortedWriter(Arena* arena) : m_Arena(arena) {}
    ~SortedWriter();
    // Takes every block the writing needs, so that running out of memory
    // is known before the sorted file is touched: the output block, the
    // segment table, and each shared spelling's holders, gathered from the
    // segments in list order. False when memory is exhausted.
    bool Prepare(const LoadSegment* first, int32_t segmentCount);
    // Writes the segments after a successful Prepare; false when a write failed.
    bool Write(Stream* stream, const LoadSegment* first);

    SortedWriter(const SortedWriter&) = delete;
    SortedWriter& operator=(const SortedWriter&) = delete;

private:
    void AddSegment(const LoadSegment* segment);
    void WriteSegment(const LoadSegment* segment);
    // Most pieces are short and fit what is left of the block: those are
    // copied here, without a call.
    void Put(const char* text, size_t length) {
        if (m_Failed || length > kBufferBytes - m_Used) return PutSlow(text, length);
        memcpy(m_Buffer + m_Used, text, length);
        m_Used += length;
    }
    void PutSlow(const char* text, size_t length);
    void Emit(const char* bytes, size_t length);
    void WriteNotes(const OpenEntry* entry);

    static const size_t kBufferBytes = 1 << 16;
    Stream* m_Stream = nullptr;
    char* m_Buffer = nullptr;
    size_t m_Used = 0;
    bool m_Failed = false;
    const LoadSegment** m_Segments = nullptr;  // by index, which is list order
    Arena* m_Arena;                            // the model's
};

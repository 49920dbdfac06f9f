// Writes the sorted file from the model: segment headers, their files, and
// on each file the other segments that open it spelled the same way. Text is
// gathered in a large block and handed to the stream in few writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tool/arena.h"

struct LoadSegment;
struct NameGroup;
struct OpenEntry;
struct Stream;

class SortedWriter {
public:
    // The holders' lists come from the model's arena and stay with it.
    SortedWriter(Stream* stream, int32_t segmentCount, Arena* arena);
    ~SortedWriter();
    // Segments are added in list order before any is written. Adding one
    // places it among the holders of its files' spellings.
    void AddSegment(const LoadSegment* segment);
    void WriteSegment(const LoadSegment* segment);
    // Writes what is gathered; false when any write failed.
    bool Finish();

    SortedWriter(const SortedWriter&) = delete;
    SortedWriter& operator=(const SortedWriter&) = delete;

private:
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
    int32_t* NewHolders(int32_t count);

    static const size_t kBufferBytes = 1 << 16;
    Stream* m_Stream;
    char* m_Buffer;
    size_t m_Used = 0;
    bool m_Failed = false;
    std::vector<const LoadSegment*> m_Segments;  // by index, which is list order
    Arena* m_Arena;  // the model's
};

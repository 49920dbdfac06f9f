// Writes the sorted file from the model: segment headers, their files, and
// on each file the other segments that open it spelled the same way. Text is
// gathered in a large block and handed to the stream in few writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tool/arena.h"

struct LoadSegment;
struct NameGroup;
struct OpenEntry;
struct Stream;

class SortedWriter {
public:
    SortedWriter(Stream* stream, int32_t segmentCount);
    ~SortedWriter();
    // Segments are added in list order before any is written.
    void AddSegment(const LoadSegment* segment);
    void WriteSegment(const LoadSegment* segment);
    // Writes what is gathered; false when any write failed.
    bool Finish();

    SortedWriter(const SortedWriter&) = delete;
    SortedWriter& operator=(const SortedWriter&) = delete;

private:
    void Put(const char* text, size_t length);
    void Emit(const char* bytes, size_t length);
    void WriteNotes(const OpenEntry* entry);
    const int32_t* Holders(NameGroup* group);

    Stream* m_Stream;
    char* m_Buffer;
    size_t m_Used = 0;
    bool m_Failed = false;
    std::vector<const LoadSegment*> m_Segments;  // by index, which is list order
    Arena m_Arena;  // the groups' lists of holders
};

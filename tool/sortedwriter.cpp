#include "tool/sortedwriter.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"
#include "file/stream.h"
#include "tool/segsorter.h"

const size_t kBufferBytes = 1 << 16;

SortedWriter::SortedWriter(Stream* stream, int32_t segmentCount)
    : m_Stream(stream), m_Buffer(static_cast<char*>(operator new(kBufferBytes, __FILE__, __LINE__))) {
    m_Failed = m_Buffer == nullptr;
    m_Segments.reserve(segmentCount);
}

SortedWriter::~SortedWriter() { operator delete(m_Buffer, __FILE__, __LINE__); }

void SortedWriter::AddSegment(const LoadSegment* segment) { m_Segments.push_back(segment); }

void SortedWriter::Emit(const char* bytes, size_t length) {
    int32_t n = static_cast<int32_t>(length);
    if (n > 0 && m_Stream->Write(bytes, n) != n) m_Failed = true;
}

void SortedWriter::Put(const char* text, size_t length) {
    if (m_Failed) return;
    if (length > kBufferBytes - m_Used) {
        Emit(m_Buffer, m_Used);
        m_Used = 0;
    }
    if (length >= kBufferBytes) return Emit(text, length);
    memcpy(m_Buffer + m_Used, text, length);
    m_Used += length;
}

bool SortedWriter::Finish() {
    if (!m_Failed) Emit(m_Buffer, m_Used);
    m_Used = 0;
    return !m_Failed;
}

// Members join a group as files are first seen, in no useful order; the notes
// list the other segments in list order. The list is made once per group, as
// a plain array, so each note costs a step along it. Null when memory ran out.
const int32_t* SortedWriter::Holders(NameGroup* group) {
    if (group->m_Holders) return group->m_Holders;
    int32_t* holders = static_cast<int32_t*>(
        m_Arena.Allocate(group->m_Count * sizeof(int32_t), alignof(int32_t)));
    if (!holders) return nullptr;
    int32_t n = 0;
    for (const OpenEntry* m = group->m_Members; m; m = m->m_NextSame) holders[n++] = m->m_Segment;
    std::sort(holders, holders + n);
    return group->m_Holders = holders;
}

void SortedWriter::WriteNotes(const OpenEntry* entry) {
    NameGroup* group = entry->m_Group;
    if (group->m_Count < 2) return;
    const int32_t* holders = Holders(group);
    if (!holders) {
        m_Failed = true;
        return;
    }
    for (int32_t i = 0; i < group->m_Count; ++i) {
        if (holders[i] == entry->m_Segment) continue;
        const LoadSegment* other = m_Segments[holders[i]];
        Put("  // DupSeg ", 12);
        Put(other->m_Name, other->m_Length);
    }
}

void SortedWriter::WriteSegment(const LoadSegment* segment) {
    Put("::LOADSEG::(", 12);
    Put(segment->m_Name, segment->m_Length);
    Put(")\r\n", 3);
    for (const OpenEntry* entry = segment->m_Opens; entry; entry = entry->m_Next) {
        Put("::OPEN::(", 9);
        Put(entry->Name(), entry->m_Length);
        Put(")", 1);
        WriteNotes(entry);
        Put("\r\n", 2);
    }
}

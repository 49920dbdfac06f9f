#include "tool/sortedwriter.h"

#include <cstring>

#include "file/stream.h"
#include "tool/resources.h"
#include "tool/segsorter.h"

SortedWriter::~SortedWriter() { s_ToolResources->Free(m_Buffer, kBufferBytes); }

bool SortedWriter::Prepare(const LoadSegment* first, int32_t segmentCount) {
    m_Buffer = static_cast<char*>(s_ToolResources->Allocate(kBufferBytes));
    m_Segments = static_cast<const LoadSegment**>(
        m_Arena->Allocate(segmentCount * sizeof(LoadSegment*), alignof(LoadSegment*)));
    m_Failed = !m_Buffer || (segmentCount > 0 && !m_Segments);
    for (const LoadSegment* segment = first; segment && !m_Failed; segment = segment->m_Next)
        AddSegment(segment);
    return !m_Failed;
}

bool SortedWriter::Write(Stream* stream, const LoadSegment* first) {
    m_Stream = stream;
    for (const LoadSegment* segment = first; segment; segment = segment->m_Next)
        WriteSegment(segment);
    if (!m_Failed) Emit(m_Buffer, m_Used);
    m_Used = 0;
    return !m_Failed;
}

// Segments come in list order, so each group's holders are gathered in that
// order, ready for the notes: no sorting, and no walk from group to members,
// whose records lie scattered over the whole model.
void SortedWriter::AddSegment(const LoadSegment* segment) {
    m_Segments[segment->m_Index] = segment;
    for (const OpenEntry* entry = segment->m_Opens; entry; entry = entry->m_Next) {
        NameGroup* group = entry->m_Group;
        if (group->m_Count < 2 || group->m_Placed == group->m_Count) continue;
        if (!group->m_Holders)
            group->m_Holders = static_cast<int32_t*>(
                m_Arena->Allocate(group->m_Count * sizeof(int32_t), alignof(int32_t)));
        if (!group->m_Holders) {
            m_Failed = true;
            return;
        }
        group->m_Holders[group->m_Placed++] = segment->m_Index;
    }
}

void SortedWriter::Emit(const char* bytes, size_t length) {
    int32_t n = static_cast<int32_t>(length);
    if (n > 0 && m_Stream->Write(bytes, n) != n) m_Failed = true;
}

void SortedWriter::PutSlow(const char* text, size_t length) {
    if (m_Failed) return;
    if (length > kBufferBytes - m_Used) {
        Emit(m_Buffer, m_Used);
        m_Used = 0;
    }
    if (length >= kBufferBytes) return Emit(text, length);
    memcpy(m_Buffer + m_Used, text, length);
    m_Used += length;
}

void SortedWriter::WriteNotes(const OpenEntry* entry) {
    const NameGroup* group = entry->m_Group;
    if (group->m_Count < 2 || m_Failed) return;
    const int32_t* holders = group->m_Holders;
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

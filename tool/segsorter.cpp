#include "tool/segsorter.h"

#include <cstring>

#include "core/output.h"
#include "file/stream.h"
#include "tool/dumpreader.h"
#include "tool/names.h"
#include "tool/sortedwriter.h"

const char kUsage[] = "Usage: segsorter loaddump sortedfile [excludelist]";
const char kDescription[] =
    "\n       segsorter.exe groups all ::OPEN:: commands following similar \n"
    "       ::LOADSEG:: statements together, eliminating\n"
    "       duplicates and extra lines\n";

// Both records are closed by the first ')' from this offset on, before the
// kind of record is known.
const size_t kCloseSearchOffset = 12;
const size_t kSegmentNameOffset = 12;
const size_t kOpenNameOffset = 9;

// A file's key within the one index of all entries: its folded name and its
// segment.
static uint32_t EntryHash(uint32_t foldedName, int32_t segment) {
    return FinishHash(foldedName ^ (static_cast<uint64_t>(segment) + 1) * 0x9E3779B97F4A7C15ull);
}

LoadSegment* SegmentList::NewSegment(const char* name, size_t length, uint32_t hash) {
    LoadSegment* segment = m_Arena.New<LoadSegment>();
    char* copy = segment ? m_Arena.Copy(name, length) : nullptr;
    if (!copy || !m_Segments.Add(hash, segment)) return nullptr;
    *segment = LoadSegment{copy, static_cast<uint32_t>(length), m_SegmentCount++, nullptr, nullptr,
                           nullptr};
    (m_Last ? m_Last->m_Next : m_First) = segment;
    m_Last = segment;
    return segment;
}

void SegmentList::BeginSegment(const char* name, size_t length) {
    uint32_t hash = NameHash<true>(name, length);
    LoadSegment* segment = m_Segments.Find(hash, [&](const LoadSegment* s) {
        return s->m_Length == length && EqualFolded(s->m_Name, name, length);
    });
    if (!segment) segment = NewSegment(name, length, hash);
    if (segment) m_Current = segment;
    m_OutOfMemory |= segment == nullptr;
}

NameGroup* SegmentList::FindOrAddGroup(const char* name, size_t length) {
    uint32_t hash = NameHash<false>(name, length);
    NameGroup* group = m_Groups.Find(hash, [&](const NameGroup* g) {
        return g->m_Length == length && memcmp(g->m_Name, name, length) == 0;
    });
    if (group) return group;
    group = m_Arena.New<NameGroup>();
    char* copy = group ? m_Arena.Copy(name, length) : nullptr;
    if (!copy || !m_Groups.Add(hash, group)) return nullptr;
    *group = NameGroup{copy, static_cast<uint32_t>(length), 0, nullptr, false};
    return group;
}

void SegmentList::AddOpen(const char* name, size_t length) {
    if (!m_Current) BeginSegment("default", 7);
    if (!m_Current) return;
    if (name[0] == '$' && (name[1] == '\\' || name[1] == '/')) {
        name += 2;
        length -= 2;
    }
    int32_t segment = m_Current->m_Index;
    uint32_t hash = EntryHash(NameHash<true>(name, length), segment);
    if (m_Entries.Find(hash, [&](const OpenEntry* e) {
            return e->m_Segment == segment && e->m_Length == length &&
                   EqualFolded(e->m_Name, name, length);
        }))
        return;
    NameGroup* group = FindOrAddGroup(name, length);
    OpenEntry* entry = group ? m_Arena.New<OpenEntry>() : nullptr;
    if (!entry || !m_Entries.Add(hash, entry)) {
        m_OutOfMemory = true;
        return;
    }
    *entry = OpenEntry{group->m_Name, group->m_Length, segment, group, nullptr, group->m_Members};
    group->m_Members = entry;
    group->m_Count++;
    (m_Current->m_LastOpen ? m_Current->m_LastOpen->m_Next : m_Current->m_Opens) = entry;
    m_Current->m_LastOpen = entry;
}

void SegmentList::ParsePiece(const char* piece, size_t length) {
    if (length <= kCloseSearchOffset) return;
    const char* close = static_cast<const char*>(
        memchr(piece + kCloseSearchOffset, ')', length - kCloseSearchOffset));
    // A zero byte ends the line, as the text functions would read it: one
    // before the ')' hides it.
    if (!close || memchr(piece, 0, close - piece)) return;
    uint64_t head = FoldWord(LoadWord(piece, 0, 8));
    if (head == FoldWord(LoadWord("::LoadSe", 0, 8)) && EqualFolded(piece + 8, "g::", 3))
        BeginSegment(piece + kSegmentNameOffset, close - piece - kSegmentNameOffset);
    else if (head == FoldWord(LoadWord("::Open::", 0, 8)))
        AddOpen(piece + kOpenNameOffset, close - piece - kOpenNameOffset);
}

void SegmentList::ParseLine(const char* line) { ParsePiece(line, strlen(line)); }

bool SegmentList::Write(Stream* stream) {
    SortedWriter writer(stream, m_SegmentCount);
    for (LoadSegment* segment = m_First; segment; segment = segment->m_Next)
        writer.AddSegment(segment);
    for (const LoadSegment* segment = m_First; segment; segment = segment->m_Next)
        writer.WriteSegment(segment);
    return writer.Finish();
}

// fgetline ends a line on a failed read as it does at end of file; the reader
// tells the two apart, so a failing disk is not taken for a short dump.
static bool ReadWhole(Stream* dump, SegmentList* list) {
    DumpReader reader(dump);
    const char* piece;
    size_t length;
    while (reader.Next(&piece, &length)) list->ParsePiece(piece, length);
    return !reader.Failed();
}

static int WriteSorted(SegmentList* list, const char* sortedName) {
    Stream* sorted = Stream::Create(sortedName);
    if (!sorted) {
        Errorf("Cannot create name file '%s'", sortedName);
        return -1;
    }
    bool ok = list->Write(sorted);
    ok &= sorted->Flush() >= 0;
    sorted->Close();
    if (ok) return 1;
    Errorf("Cannot write sorted file '%s'", sortedName);
    return -1;
}

int ProcessDump(const char* dumpName, const char* sortedName, const char*) {
    if (!dumpName || !sortedName) {
        Errorf("%s", kUsage);
        return -1;
    }
    Stream* dump = Stream::Open(dumpName, true);
    if (!dump) {
        Errorf("Cannot open load dump '%s'", dumpName);
        return -1;
    }
    SegmentList list;
    bool readAll = ReadWhole(dump, &list);
    dump->Close();
    if (!readAll || list.m_OutOfMemory) {
        Errorf("Cannot read load dump '%s'%s", dumpName, readAll ? ": out of memory" : "");
        return -1;
    }
    return WriteSorted(&list, sortedName);
}

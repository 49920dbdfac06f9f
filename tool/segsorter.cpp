#include "tool/segsorter.h"

#include <cstring>

#include "core/output.h"
#include "file/stream.h"
#include "tool/dumpreader.h"
#include "tool/names.h"

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

// The segments' indexes are the only parts of the model with destructors.
SegmentList::~SegmentList() {
    for (LoadSegment* segment = m_First; segment; segment = segment->m_Next)
        segment->m_Entries.~Index();
}

LoadSegment* SegmentList::NewSegment(const char* name, size_t length, uint32_t hash) {
    char* copy = m_Arena.Copy(name, length);
    LoadSegment* segment = copy ? m_Arena.New<LoadSegment>(&m_Tables) : nullptr;
    if (!segment) return nullptr;
    segment->m_Name = copy;
    segment->m_Length = static_cast<uint32_t>(length);
    segment->m_Index = m_SegmentCount++;
    (m_Last ? m_Last->m_Next : m_First) = segment;
    m_Last = segment;
    return m_Segments.Add(hash, segment) ? segment : nullptr;
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

NameGroup* SegmentList::FindOrAddGroup(const char* name, size_t length, uint32_t hash) {
    NameGroup* group = m_Groups.Find(hash, [&](const NameGroup* g) {
        return g->m_Length == length && memcmp(g->Name(), name, length) == 0;
    });
    if (group) return group;
    group = static_cast<NameGroup*>(
        m_Arena.Allocate(sizeof(NameGroup) + length + 1, alignof(NameGroup)));
    if (!group || !m_Groups.Add(hash, group)) return nullptr;
    *group = NameGroup{static_cast<uint32_t>(length), 0, 0, nullptr};
    memcpy(group + 1, name, length);
    reinterpret_cast<char*>(group + 1)[length] = 0;
    return group;
}

void SegmentList::AddOpen(const PendingOpen& open) {
    const char* name = open.m_Name;
    size_t length = open.m_Length;
    LoadSegment* segment = open.m_Segment;
    if (segment->m_Entries.Find(open.m_Hash, [&](const OpenEntry* e) {
            return e->m_Length == length && EqualFolded(e->Name(), name, length);
        }))
        return;
    uint32_t exact = open.m_New ? open.m_ExactHash : NameHash<false>(name, length);
    NameGroup* group = FindOrAddGroup(name, length, exact);
    void* block = group ? m_Arena.Allocate(sizeof(OpenEntry) + length + 1, alignof(OpenEntry))
                        : nullptr;
    OpenEntry* entry = static_cast<OpenEntry*>(block);
    if (!entry || !segment->m_Entries.Add(open.m_Hash, entry)) {
        m_OutOfMemory = true;
        return;
    }
    *entry = OpenEntry{group, nullptr, segment->m_Index, static_cast<uint32_t>(length)};
    memcpy(entry + 1, name, length);
    reinterpret_cast<char*>(entry + 1)[length] = 0;
    group->m_Count++;
    (segment->m_LastOpen ? segment->m_LastOpen->m_Next : segment->m_Opens) = entry;
    segment->m_LastOpen = entry;
}

bool SegmentList::Classify(const DumpPiece& line, PendingOpen* open) {
    const char* piece = line.m_Text;
    size_t length = line.m_Length;
    if (length <= kCloseSearchOffset) return false;
    const char* close = static_cast<const char*>(
        memchr(piece + kCloseSearchOffset, ')', length - kCloseSearchOffset));
    // A zero byte ends the line, as the text functions would read it: one
    // before the ')' hides it.
    if (!close || (line.m_MayHoldZero && memchr(piece, 0, close - piece))) return false;
    uint64_t head = FoldWord(LoadWord(piece, 0, 8));
    if (head == FoldWord(LoadWord("::LoadSe", 0, 8)) && EqualFolded(piece + 8, "g::", 3)) {
        BeginSegment(piece + kSegmentNameOffset, close - piece - kSegmentNameOffset);
        return false;
    }
    if (head != FoldWord(LoadWord("::Open::", 0, 8))) return false;
    if (!m_Current) BeginSegment("default", 7);
    if (!m_Current) return false;
    const char* name = piece + kOpenNameOffset;
    if (name[0] == '$' && (name[1] == '\\' || name[1] == '/')) name += 2;
    size_t nameLength = close - name;
    *open = PendingOpen{name, nameLength, m_Current, NameHash<true>(name, nameLength), 0, false};
    return true;
}

// A record and the name that follows it.
static void Prefetch(const void* record) {
    if (!record) return;
    __builtin_prefetch(record);
    __builtin_prefetch(static_cast<const char*>(record) + 64);
}

// Segments are taken as their records come, so every file is looked up in
// the segment current at its own line; files are added in line order.
void SegmentList::ParseBatch(const DumpPiece* pieces, size_t count) {
    PendingOpen opens[kBatch];
    size_t n = 0;
    for (size_t i = 0; i < count && i < kBatch; ++i) {
        if (!Classify(pieces[i], &opens[n])) continue;
        opens[n].m_Segment->m_Entries.Prefetch(opens[n].m_Hash);
        n++;
    }
    StartLookups(opens, n);
    for (size_t i = 0; i < n; ++i) AddOpen(opens[i]);
}

// With the index slots on their way, fetches the records they point at. A
// file its segment cannot hold is new: its spelling's group is looked up
// next, so that lookup is started too.
void SegmentList::StartLookups(PendingOpen* opens, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const OpenEntry* e = opens[i].m_Segment->m_Entries.Candidate(opens[i].m_Hash);
        if (e) {
            Prefetch(e);
            continue;
        }
        opens[i].m_ExactHash = NameHash<false>(opens[i].m_Name, opens[i].m_Length);
        opens[i].m_New = true;
        m_Groups.Prefetch(opens[i].m_ExactHash);
    }
    for (size_t i = 0; i < n; ++i)
        if (opens[i].m_New) Prefetch(m_Groups.Candidate(opens[i].m_ExactHash));
}

void SegmentList::ParsePiece(const char* piece, size_t length) {
    DumpPiece one{piece, length, true};
    ParseBatch(&one, 1);
}

void SegmentList::ParseLine(const char* line) { ParsePiece(line, strlen(line)); }

bool SegmentList::PrepareWrite() { return m_Writer.Prepare(m_First, m_SegmentCount); }

bool SegmentList::Write(Stream* stream) { return m_Writer.Write(stream, m_First); }

// fgetline ends a line on a failed read as it does at end of file; the reader
// tells the two apart, so a failing disk is not taken for a short dump.
static bool ReadWhole(Stream* dump, SegmentList* list) {
    DumpReader reader(dump);
    DumpPiece pieces[SegmentList::kBatch];
    while (size_t count = reader.NextBatch(pieces, SegmentList::kBatch))
        list->ParseBatch(pieces, count);
    list->m_OutOfMemory |= reader.OutOfMemory();
    return !reader.Failed();
}

// Every block the writing needs is taken first: running out of memory must
// not cost the old sorted file.
static int WriteSorted(SegmentList* list, const char* sortedName) {
    if (!list->PrepareWrite()) {
        Errorf("Cannot write sorted file '%s': out of memory", sortedName);
        return -1;
    }
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
        Errorf("Cannot read load dump '%s'%s", dumpName,
               list.m_OutOfMemory ? ": out of memory" : "");
        return -1;
    }
    int result = WriteSorted(&list, sortedName);
    // Not an error (an empty dump sorts to an empty file, and callers rely on
    // the status), but a dump whose records all carry a prefix, a logger's
    // say, would otherwise pass for one that loaded nothing.
    if (result == 1 && list.m_SegmentCount == 0)
        Warningf("Load dump '%s' holds no ::LOADSEG:: or ::OPEN:: records: the sorted file is empty",
                 dumpName);
    return result;
}

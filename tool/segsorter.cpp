#include "tool/segsorter.h"

#include <cstdlib>
#include <cstring>

#include "core/memory.h"
#include "core/output.h"
#include "core/strings.h"
#include "file/stream.h"

const char kUsage[] = "Usage: segsorter loaddump sortedfile [excludelist]";
const char kDescription[] =
    "\n       segsorter.exe groups all ::OPEN:: commands following similar \n"
    "       ::LOADSEG:: statements together, eliminating\n"
    "       duplicates and extra lines\n";

const int kLineBufferSize = 4096;
// Both records are closed by the first ')' from this offset on, before the
// kind of record is known.
const size_t kCloseSearchOffset = 12;
const size_t kSegmentNameOffset = 12;
const size_t kOpenNameOffset = 9;

// A node with its own copy of the name, everything else zero. Null, with the
// model marked incomplete, when memory runs out.
template <typename Node>
static Node* NewNode(const char* name, bool* outOfMemory) {
    char* copy = strdup(name);
    Node* node = copy ? new ("segsorter", __LINE__) Node() : nullptr;
    if (node) {
        node->m_Name = copy;
        return node;
    }
    free(copy);
    *outOfMemory = true;
    return nullptr;
}

void SegmentList::BeginSegment(const char* name) {
    LoadSegment** link = &m_First;
    for (; *link; link = &(*link)->m_Next) {
        if (EqualNoCase((*link)->m_Name, name)) {
            m_Current = *link;
            return;
        }
    }
    LoadSegment* segment = NewNode<LoadSegment>(name, &m_OutOfMemory);
    if (!segment) return;
    *link = segment;
    m_Current = segment;
}

void SegmentList::AddOpen(const char* name) {
    if (!m_Current) BeginSegment("default");
    if (!m_Current) return;
    if (name[0] == '$' && (name[1] == '\\' || name[1] == '/')) name += 2;
    OpenEntry** link = &m_Current->m_Opens;
    for (; *link; link = &(*link)->m_Next)
        if (EqualNoCase((*link)->m_Name, name)) return;
    OpenEntry* entry = NewNode<OpenEntry>(name, &m_OutOfMemory);
    if (!entry) return;
    *link = entry;
}

void SegmentList::ParseLine(char* line) {
    size_t length = strlen(line);
    if (length <= kCloseSearchOffset) return;
    char* close = static_cast<char*>(
        memchr(line + kCloseSearchOffset, ')', length - kCloseSearchOffset));
    if (!close) return;
    *close = 0;
    if (StartsWithNoCase(line, "::LoadSeg::"))
        BeginSegment(line + kSegmentNameOffset);
    else if (StartsWithNoCase(line, "::Open::"))
        AddOpen(line + kOpenNameOffset);
}

// Names go out with plain writes, never through one bounded formatted call,
// so a name of any length the dump can carry arrives whole.
static bool WriteText(Stream* stream, const char* text) {
    int32_t length = static_cast<int32_t>(strlen(text));
    return stream->Write(text, length) == length;
}

static bool WriteNotes(Stream* stream, const LoadSegment* list, const LoadSegment* self,
                       const char* name) {
    bool ok = true;
    for (const LoadSegment* other = list; other; other = other->m_Next) {
        if (other == self) continue;
        for (const OpenEntry* entry = other->m_Opens; entry; entry = entry->m_Next) {
            if (strcmp(entry->m_Name, name) != 0) continue;
            ok &= WriteText(stream, "  // DupSeg ");
            ok &= WriteText(stream, other->m_Name);
            break;  // names are unique within a segment
        }
    }
    return ok;
}

bool SegmentList::Write(Stream* stream) {
    bool ok = true;
    for (const LoadSegment* segment = m_First; segment; segment = segment->m_Next) {
        ok &= WriteText(stream, "::LOADSEG::(");
        ok &= WriteText(stream, segment->m_Name);
        ok &= WriteText(stream, ")\r\n");
        for (const OpenEntry* entry = segment->m_Opens; entry; entry = entry->m_Next) {
            ok &= WriteText(stream, "::OPEN::(");
            ok &= WriteText(stream, entry->m_Name);
            ok &= WriteText(stream, ")");
            ok &= WriteNotes(stream, m_First, segment, entry->m_Name);
            ok &= WriteText(stream, "\r\n");
        }
    }
    return ok;
}

// fgetline ends a line on a failed read as it does at end of file; one more
// read tells the two apart, so a failing disk is not taken for a short dump.
static bool ReadWhole(Stream* dump, SegmentList* list) {
    char line[kLineBufferSize];
    while (fgetline(line, sizeof line, dump) > 0) list->ParseLine(line);
    char probe;
    return dump->Read(&probe, 1) == 0;
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

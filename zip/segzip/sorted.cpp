// A sorted load-order file read by the tool's own parser: a sorted file is a
// load dump whose segments are already grouped, so reading it back gives the
// same segments and files, in the same order, as the tool wrote.
#include "zip/segzip/segzip.h"

#include <cstring>
#include <string>

#include "core/output.h"
#include "file/stream.h"
#include "tool/segsorter.h"

namespace {

const char kOpen[] = "::open::(";
const size_t kOpenLength = sizeof kOpen - 1;

bool StartsFolded(const char* text, size_t length, const char* lower, size_t count) {
    if (length < count) return false;
    for (size_t i = 0; i < count; ++i) {
        char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
        if (c != lower[i]) return false;
    }
    return true;
}

// The dump's reading rules look for an OPEN record's ')' from its name's
// fourth character on, and strip a leading "$/" or "$\": a dump's names of
// one or two characters are dropped, and old dumps rely on that. But the
// tool writes such a name (from "$/ab") into a sorted file as it is, and a
// name that still begins with "$/". Such lines are read with a "$/" put in
// front, which the rules take off again. A short name is one whose ')' is
// followed by the line's end or a DupSeg note.
bool NeedsPrefix(const char* line, size_t length) {
    if (!StartsFolded(line, length, kOpen, kOpenLength) || length < kOpenLength + 2) return false;
    const char* name = line + kOpenLength;
    if (name[0] == '$' && (name[1] == '/' || name[1] == '\\')) return true;
    const char* end = line + length;
    for (const char* close = name + 1; close < name + 3 && close < end; ++close) {
        if (*close != ')') continue;
        const char* rest = close + 1;
        return rest == end || *rest == '\r' || *rest == '\n' || (end - rest >= 4 && memcmp(rest, "  //", 4) == 0);
    }
    return false;
}

// The batch as the parser must see it; rewritten lines live in `kept`.
void Prepare(DumpPiece* pieces, size_t count, std::string* kept) {
    for (size_t i = 0; i < count; ++i) {
        if (!NeedsPrefix(pieces[i].m_Text, pieces[i].m_Length)) continue;
        kept[i].assign(pieces[i].m_Text, kOpenLength);
        kept[i].append("$/");
        kept[i].append(pieces[i].m_Text + kOpenLength, pieces[i].m_Length - kOpenLength);
        pieces[i].m_Text = kept[i].data();
        pieces[i].m_Length = kept[i].size();
    }
}

bool Parse(Stream* stream, SegmentList* list) {
    DumpReader reader(stream);
    DumpPiece pieces[SegmentList::kBatch];
    std::string kept[SegmentList::kBatch];
    while (size_t count = reader.NextBatch(pieces, SegmentList::kBatch)) {
        Prepare(pieces, count, kept);
        list->ParseBatch(pieces, count);
    }
    return !reader.Failed();
}

}  // namespace

bool ReadSorted(const char* name, std::vector<SortedSegment>* segments) {
    Stream* stream = Stream::Open(name, true);
    if (!stream) {
        Errorf("Cannot open sorted file '%s'", name);
        return false;
    }
    SegmentList list;
    bool failed = !Parse(stream, &list);
    stream->Close();
    if (failed || list.m_OutOfMemory) {
        Errorf("Cannot read sorted file '%s'%s", name, list.m_OutOfMemory ? ": out of memory" : "");
        return false;
    }
    size_t files = 0;
    for (const LoadSegment* segment = list.m_First; segment; segment = segment->m_Next) {
        segments->push_back(SortedSegment{std::string(segment->m_Name, segment->m_Length), {}});
        for (const OpenEntry* open = segment->m_Opens; open; open = open->m_Next, ++files)
            segments->back().m_Files.emplace_back(open->Name(), open->m_Length);
    }
    if (files == 0) Warningf("Sorted file '%s' names no files", name);
    return true;
}

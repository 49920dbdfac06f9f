// A sorted load-order file read by the tool's own parser: a sorted file is a
// load dump whose segments are already grouped, so reading it back gives the
// same segments and files, in the same order, as the tool wrote.
#include "zip/segzip/segzip.h"

#include "core/output.h"
#include "file/stream.h"
#include "tool/segsorter.h"

bool ReadSorted(const char* name, std::vector<SortedSegment>* segments) {
    Stream* stream = Stream::Open(name, true);
    if (!stream) {
        Errorf("Cannot open sorted file '%s'", name);
        return false;
    }
    SegmentList list;
    bool failed = false;
    {
        DumpReader reader(stream);
        DumpPiece pieces[SegmentList::kBatch];
        while (size_t count = reader.NextBatch(pieces, SegmentList::kBatch)) list.ParseBatch(pieces, count);
        failed = reader.Failed();
    }
    stream->Close();
    if (failed || list.m_OutOfMemory) {
        Errorf("Cannot read sorted file '%s'%s", name, list.m_OutOfMemory ? ": out of memory" : "");
        return false;
    }
    for (const LoadSegment* segment = list.m_First; segment; segment = segment->m_Next) {
        segments->push_back(SortedSegment{std::string(segment->m_Name, segment->m_Length), {}});
        for (const OpenEntry* open = segment->m_Opens; open; open = open->m_Next)
            segments->back().m_Files.emplace_back(open->Name(), open->m_Length);
    }
    return true;
}

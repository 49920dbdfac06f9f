// The load-order tool: groups a load dump's ::OPEN:: records under the
// ::LOADSEG:: segment they were opened in and writes the sorted file.
//
// The model is lists in first-appearance order, as the sorted file shows
// them, with indexes beside the lists so that finding a segment, a file
// within a segment, or every segment holding a file costs the same however
// large the dump.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tool/arena.h"
#include "tool/dumpreader.h"
#include "tool/index.h"

struct Stream;

extern const char kUsage[];
extern const char kDescription[];

struct OpenEntry;

// One exact spelling of a file name, and every segment entry written so. The
// spelling follows the record.
struct NameGroup {
    uint32_t m_Length;
    int32_t m_Count;
    OpenEntry* m_Members;  // linked by m_NextSame, in no useful order
    int32_t* m_Holders;    // its members' segments in list order; made when first written
    const char* Name() const { return reinterpret_cast<const char*>(this + 1); }
};

// A file of a segment. Its name, as first written within the segment, follows
// the record, so that finding it costs one trip to memory, not two.
struct OpenEntry {
    NameGroup* m_Group;
    OpenEntry* m_Next;
    OpenEntry* m_NextSame;
    int32_t m_Segment;  // index of its segment in the list
    uint32_t m_Length;
    const char* Name() const { return reinterpret_cast<const char*>(this + 1); }
};

struct LoadSegment {
    char* m_Name;  // as first written
    uint32_t m_Length;
    int32_t m_Index;
    OpenEntry* m_Opens;
    OpenEntry* m_LastOpen;
    LoadSegment* m_Next;
    // Its files by folded name. Small at first: a dump may hold many
    // segments of few files.
    Index<OpenEntry> m_Entries{8};
};

// The parse state of one run.
class SegmentList {
public:
    // One zero-terminated line, as fgetline stores it.
    void ParseLine(const char* line);
    // The same for a piece of known length; it ends at a zero byte, if any.
    void ParsePiece(const char* piece, size_t length);
    // Up to kBatch pieces at once, with the same result as one at a time: the
    // lookups of their files are started together, so that their waits for
    // memory overlap.
    void ParseBatch(const DumpPiece* pieces, size_t count);
    static const size_t kBatch = 64;
    // Returns false when a write to the stream failed.
    bool Write(Stream* stream);

    LoadSegment* m_First = nullptr;
    LoadSegment* m_Current = nullptr;
    LoadSegment* m_Last = nullptr;
    int32_t m_SegmentCount = 0;
    // A record could not be allocated: the model is incomplete.
    bool m_OutOfMemory = false;

    SegmentList() = default;
    ~SegmentList();
    SegmentList(const SegmentList&) = delete;
    SegmentList& operator=(const SegmentList&) = delete;

private:
    // An OPEN record whose file is yet to be looked up in its segment.
    struct PendingOpen {
        const char* m_Name;
        size_t m_Length;
        LoadSegment* m_Segment;
        uint32_t m_Hash;       // of the name, case folded
        uint32_t m_ExactHash;  // of the name as written, when m_New
        bool m_New;            // no file of the segment matched when the batch began
    };

    // Takes a LOADSEG record at once; true for an OPEN record, described in *open.
    bool Classify(const DumpPiece& piece, PendingOpen* open);
    void BeginSegment(const char* name, size_t length);
    void StartLookups(PendingOpen* opens, size_t count);
    void AddOpen(const PendingOpen& open);
    LoadSegment* NewSegment(const char* name, size_t length, uint32_t hash);
    NameGroup* FindOrAddGroup(const char* name, size_t length, uint32_t hash);

    Arena m_Arena;
    Index<LoadSegment> m_Segments;
    Index<NameGroup> m_Groups;
};

// Returns 1 after a successful run, -1 after any failure.
int ProcessDump(const char* dumpName, const char* sortedName, const char* excludeName);

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
#include "tool/sortedwriter.h"
#include "tool/tablepool.h"

struct Stream;

extern const char kUsage[];
extern const char kDescription[];

struct OpenEntry;

// One exact spelling of a file name. The spelling follows the record.
struct NameGroup {
    uint32_t m_Length;
    int32_t m_Count;     // files of segments written so
    int32_t m_Placed;    // of them, how many are in m_Holders yet
    int32_t* m_Holders;  // their segments in list order; gathered before writing
    const char* Name() const { return reinterpret_cast<const char*>(this + 1); }
};

// A file of a segment. Its name, as first written within the segment, follows
// the record, so that finding it costs one trip to memory, not two.
struct OpenEntry {
    NameGroup* m_Group;
    OpenEntry* m_Next;
    int32_t m_Segment;  // index of its segment in the list
    uint32_t m_Length;
    const char* Name() const { return reinterpret_cast<const char*>(this + 1); }
};

struct LoadSegment {
    explicit LoadSegment(TablePool* tables) : m_Entries(8, tables) {}

    char* m_Name = nullptr;  // as first written
    uint32_t m_Length = 0;
    int32_t m_Index = 0;
    OpenEntry* m_Opens = nullptr;
    OpenEntry* m_LastOpen = nullptr;
    LoadSegment* m_Next = nullptr;
    // Its files by folded name. Small at first: a dump may hold many
    // segments of few files.
    Index<OpenEntry> m_Entries;
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
    // Takes every block that writing the sorted file needs; false when
    // memory is exhausted. Called once, before the file is created.
    bool PrepareWrite();
    // Writes the sorted file after PrepareWrite; false when a write failed.
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
    TablePool m_Tables;  // outlives every index
    Index<LoadSegment> m_Segments{64, &m_Tables};
    Index<NameGroup> m_Groups{64, &m_Tables};
    SortedWriter m_Writer{&m_Arena};
};

// Returns 1 after a successful run, -1 after any failure.
int ProcessDump(const char* dumpName, const char* sortedName, const char* excludeName);

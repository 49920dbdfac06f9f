// The load-order tool: groups a load dump's ::OPEN:: records under the
// ::LOADSEG:: segment they were opened in and writes the sorted file.
#pragma once

#include <cstdint>

struct Stream;

extern const char kUsage[];
extern const char kDescription[];

struct OpenEntry {
    char* m_Name;  // as first written within its segment
    OpenEntry* m_Next;
};

struct LoadSegment {
    char* m_Name;  // as first written
    OpenEntry* m_Opens;
    LoadSegment* m_Next;
};

// The parse state of one run. Its nodes live until the process ends.
struct SegmentList {
    // Takes one line as fgetline stored it; the line's ')' is overwritten.
    void ParseLine(char* line);
    // Returns false when a write to the stream failed.
    bool Write(Stream* stream);

    LoadSegment* m_First = nullptr;
    LoadSegment* m_Current = nullptr;
    // A node or name could not be allocated: the model is incomplete.
    bool m_OutOfMemory = false;

private:
    void BeginSegment(const char* name);
    void AddOpen(const char* name);
};

// Returns 1 after a successful run, -1 after any failure.
int ProcessDump(const char* dumpName, const char* sortedName, const char* excludeName);

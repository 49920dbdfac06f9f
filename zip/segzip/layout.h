// segzip layout's figures, shared by its table and its picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/segzip/segzip.h"

// A drive reads through a gap this small faster than it seeks over it.
const uint32_t kReadThrough = 64 * 1024;
const double kMegabyte = 1024.0 * 1024.0;

// Why a member is read where it is: the picture tells these apart, since a
// member read before is the usual reason a well-ordered segment still seeks.
enum ReadKind { kReadFirst, kReadEarlier, kReadAgain };

// One member read, in the segment's order.
struct LayoutRead {
    const zipEntry* m_Entry;
    const std::string* m_Spelling;  // the name as the sorted file spells it
    uint32_t m_Start;
    uint32_t m_Length;
    bool m_Seek;
    ReadKind m_Kind;
    int32_t m_FirstReader;  // the segment that read the member first
};

struct SegmentFigures {
    int32_t m_Files = 0;
    int32_t m_Missing = 0;
    uint64_t m_Bytes = 0;  // members' stored bytes
    uint64_t m_Read = 0;   // the same with the gaps read through
    int32_t m_Seeks = 0;
    uint32_t m_FirstSector = UINT32_MAX;
    uint32_t m_LastSector = 0;
    double m_SeekMs = 0;  // the estimated load time, seeking and reading
    double m_ReadMs = 0;
    std::vector<LayoutRead> m_Reads;

    uint32_t Span() const { return m_Files ? m_LastSector - m_FirstSector + 1 : 0; }
};

// What the picture says about the archive and the drive, beside the rows.
struct LayoutPicture {
    const char* m_Archive;
    const char* m_Sorted;
    uint64_t m_ArchiveBytes;  // the archive file's size
    int32_t m_Members;
    double m_SeekMs;
    double m_Mbps;
};

// Draws one row per segment; false when the file cannot be written.
bool WriteLayoutSvg(const char* name, const LayoutPicture& picture, const std::vector<SortedSegment>& segments,
                    const std::vector<SegmentFigures>& figures);

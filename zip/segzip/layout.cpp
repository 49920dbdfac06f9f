// segzip layout: how a reader that loads each segment's files in the sorted
// file's order moves over an archive, and what that costs on a disc drive.
#include "zip/segzip/layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/output.h"

namespace {

const uint32_t kSector = 2048;

// Which segment read each member first and last, by the member's index.
struct Readers {
    std::vector<int32_t> m_First;
    std::vector<int32_t> m_Last;
};

ReadKind Classify(Readers* readers, size_t member, int32_t segment) {
    int32_t& first = readers->m_First[member];
    int32_t& last = readers->m_Last[member];
    ReadKind kind = last == segment ? kReadAgain : first >= 0 ? kReadEarlier : kReadFirst;
    if (first < 0) first = segment;
    last = segment;
    return kind;
}

// The first member of a segment is always a seek: where the drive stood
// before is not known.
SegmentFigures Measure(zipFile* zip, const SortedSegment& segment, int32_t index, Readers* readers) {
    SegmentFigures figures;
    uint32_t position = 0;
    for (const std::string& name : segment.m_Files) {
        zipEntry* entry = zip->Find(name.c_str());
        const char* why = nullptr;
        if (entry && !zip->Locate(entry, &why))
            Errorf("Cannot open '%s' in '%s': %s", name.c_str(), zip->m_ArchiveName, why);
        if (!entry || why) {
            ++figures.m_Missing;
            continue;
        }
        uint32_t start = entry->m_Offset, length = static_cast<uint32_t>(entry->m_CompSize);
        bool seek = figures.m_Files == 0 || start < position || start - position > kReadThrough;
        figures.m_Seeks += seek;
        figures.m_Read += length + (seek ? 0 : start - position);
        figures.m_Bytes += length;
        ++figures.m_Files;
        figures.m_FirstSector = std::min(figures.m_FirstSector, start / kSector);
        figures.m_LastSector = std::max(figures.m_LastSector, (length ? start + length - 1 : start) / kSector);
        size_t member = static_cast<size_t>(entry - zip->m_Entries);
        ReadKind kind = Classify(readers, member, index);
        figures.m_Reads.push_back(LayoutRead{entry, &name, start, length, seek, kind, readers->m_First[member]});
        position = start + length;
    }
    return figures;
}

void Time(SegmentFigures* f, const SegzipOptions& options) {
    f->m_SeekMs = f->m_Seeks * options.m_SeekMs;
    f->m_ReadMs = static_cast<double>(f->m_Read) / (options.m_Mbps * kMegabyte) * 1000.0;
}

void PrintRow(FILE* table, const SegmentFigures& f, double ms, uint64_t span, const char* name) {
    fprintf(table, "%7d %12llu %7d %9llu %11.1f  %s\n", f.m_Files, static_cast<unsigned long long>(f.m_Bytes), f.m_Seeks,
           static_cast<unsigned long long>(span), ms, name);
}

// The picture's axis must reach every member even where the file's size
// cannot be had.
uint64_t ArchiveBytes(const char* name, const zipFile* zip) {
    std::error_code failure;
    uint64_t bytes = std::filesystem::file_size(name, failure);
    if (failure) bytes = 0;
    for (int32_t i = 0; i < zip->m_EntryCount; ++i) {
        const zipEntry& entry = zip->m_Entries[i];
        bytes = std::max<uint64_t>(bytes, entry.m_Offset + static_cast<uint32_t>(entry.m_CompSize));
    }
    return bytes;
}

}  // namespace

int RunLayout(const SegzipOptions& options) {
    const char* sorted = options.m_Operands[0];
    std::vector<SortedSegment> segments;
    if (!ReadSorted(sorted, &segments)) return 1;
    s_ZipNameMode = kZipNamesPlain;
    zipFile* zip = zipFile::Mount(options.m_Archive, 0);
    if (!zip) return 1;
    // An SVG on standard output keeps it to itself.
    FILE* table = options.m_Svg && strcmp(options.m_Svg, "-") == 0 ? stderr : stdout;
    fprintf(table, "Device model: a disc drive, %g ms a seek, %g MB/s (1 MB = 1,048,576 bytes); gaps up to 64 KB "
            "read through\n",
            options.m_SeekMs, options.m_Mbps);
    fprintf(table, "%7s %12s %7s %9s %11s  %s\n", "files", "bytes", "seeks", "sectors", "load ms", "segment");
    std::vector<SegmentFigures> figures;
    Readers readers{std::vector<int32_t>(static_cast<size_t>(zip->m_EntryCount), -1),
                    std::vector<int32_t>(static_cast<size_t>(zip->m_EntryCount), -1)};
    SegmentFigures total;
    uint64_t totalSpan = 0;
    double totalMs = 0;
    for (const SortedSegment& segment : segments) {
        figures.push_back(Measure(zip, segment, static_cast<int32_t>(figures.size()), &readers));
        SegmentFigures& f = figures.back();
        Time(&f, options);
        double ms = f.m_SeekMs + f.m_ReadMs;
        PrintRow(table, f, ms, f.Span(), segment.m_Name.c_str());
        total.m_Files += f.m_Files;
        total.m_Missing += f.m_Missing;
        total.m_Bytes += f.m_Bytes;
        total.m_Seeks += f.m_Seeks;
        totalSpan += f.Span();
        totalMs += ms;
    }
    PrintRow(table, total, totalMs, totalSpan, "total");
    if (total.m_Missing)
        Warningf("%d files of '%s' are not in '%s' and were not counted", total.m_Missing, sorted,
                 options.m_Archive);
    LayoutPicture picture{options.m_Archive,  sorted,         ArchiveBytes(options.m_Archive, zip),
                          zip->m_EntryCount,  options.m_SeekMs, options.m_Mbps};
    if (options.m_Svg && !WriteLayoutSvg(options.m_Svg, picture, segments, figures)) {
        Errorf("Cannot write '%s'", options.m_Svg);
        return 1;
    }
    return fflush(stdout) == 0 ? 0 : 1;
}

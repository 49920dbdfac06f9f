// segzip layout: how a reader that loads each segment's files in the sorted
// file's order moves over an archive, and what that costs on a disc drive.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/output.h"
#include "zip/segzip/segzip.h"

namespace {

// A drive reads through a gap this small faster than it seeks over it.
const uint32_t kReadThrough = 64 * 1024;
const uint32_t kSector = 2048;
const double kMegabyte = 1024.0 * 1024.0;

struct Extent {
    uint32_t m_Start;
    uint32_t m_Length;
};

struct SegmentFigures {
    int32_t m_Files = 0;
    int32_t m_Missing = 0;
    uint64_t m_Bytes = 0;  // members' stored bytes
    uint64_t m_Read = 0;   // the same with the gaps read through
    int32_t m_Seeks = 0;
    uint32_t m_FirstSector = UINT32_MAX;
    uint32_t m_LastSector = 0;
    std::vector<Extent> m_Extents;

    uint32_t Span() const { return m_Files ? m_LastSector - m_FirstSector + 1 : 0; }
};

// The first member of a segment is always a seek: where the drive stood
// before is not known.
SegmentFigures Measure(zipFile* zip, const SortedSegment& segment) {
    SegmentFigures figures;
    uint32_t position = 0;
    for (const std::string& name : segment.m_Files) {
        const zipEntry* entry = zip->Find(name.c_str());
        if (!entry) {
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
        figures.m_Extents.push_back(Extent{start, length});
        position = start + length;
    }
    return figures;
}

double LoadMs(const SegmentFigures& f, const SegzipOptions& options) {
    return f.m_Seeks * options.m_SeekMs + static_cast<double>(f.m_Read) / (options.m_Mbps * kMegabyte) * 1000.0;
}

void PrintRow(FILE* table, const SegmentFigures& f, double ms, uint64_t span, const char* name) {
    fprintf(table, "%7d %12llu %7d %9llu %11.1f  %s\n", f.m_Files, static_cast<unsigned long long>(f.m_Bytes), f.m_Seeks,
           static_cast<unsigned long long>(span), ms, name);
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
    return out;
}

bool IsStdout(const char* name) { return name && strcmp(name, "-") == 0; }

// One row per segment: its members' extents across the whole archive.
bool WriteSvg(const char* name, const char* archive, uint64_t archiveBytes,
              const std::vector<SortedSegment>& segments, const std::vector<SegmentFigures>& figures) {
    const double left = 220, width = 1000, row = 16;
    FILE* svg = IsStdout(name) ? stdout : fopen(name, "w");
    if (!svg) return false;
    double height = 40 + row * static_cast<double>(segments.size());
    fprintf(svg, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\" font-family=\"sans-serif\" "
                 "font-size=\"11\">\n<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
            left + width + 10, height);
    fprintf(svg, "<text x=\"4\" y=\"16\" font-size=\"13\">Each segment's members across %s (%llu bytes)</text>\n",
            Escaped(archive).c_str(), static_cast<unsigned long long>(archiveBytes));
    double scale = width / static_cast<double>(archiveBytes ? archiveBytes : 1);
    for (size_t i = 0; i < segments.size(); ++i) {
        double y = 30 + row * static_cast<double>(i);
        fprintf(svg, "<text x=\"4\" y=\"%g\">%s</text>\n<rect x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\" "
                     "fill=\"#eee\"/>\n",
                y + row - 5, Escaped(segments[i].m_Name).c_str(), left, y + 2, width, row - 4);
        for (const Extent& e : figures[i].m_Extents)
            fprintf(svg, "<rect x=\"%.2f\" y=\"%g\" width=\"%.2f\" height=\"%g\" fill=\"#1f5fa8\"/>\n",
                    left + e.m_Start * scale, y + 2, std::max(1.0, e.m_Length * scale), row - 4);
    }
    fputs("</svg>\n", svg);
    bool ok = !ferror(svg);
    return svg == stdout ? fflush(svg) == 0 && ok : fclose(svg) == 0 && ok;
}

uint64_t ArchiveEnd(const zipFile* zip) {
    uint64_t end = 0;
    for (int32_t i = 0; i < zip->m_EntryCount; ++i)
        end = std::max<uint64_t>(end, zip->m_Entries[i].m_Offset + static_cast<uint32_t>(zip->m_Entries[i].m_CompSize));
    return end;
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
    FILE* table = IsStdout(options.m_Svg) ? stderr : stdout;
    fprintf(table, "Device model: a disc drive, %g ms a seek, %g MB/s (1 MB = 1,048,576 bytes); gaps up to 64 KB read "
           "through\n",
           options.m_SeekMs, options.m_Mbps);
    fprintf(table, "%7s %12s %7s %9s %11s  %s\n", "files", "bytes", "seeks", "sectors", "load ms", "segment");
    std::vector<SegmentFigures> figures;
    SegmentFigures total;
    uint64_t totalSpan = 0;
    double totalMs = 0;
    for (const SortedSegment& segment : segments) {
        figures.push_back(Measure(zip, segment));
        const SegmentFigures& f = figures.back();
        double ms = LoadMs(f, options);
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
    if (options.m_Svg && !WriteSvg(options.m_Svg, options.m_Archive, ArchiveEnd(zip), segments, figures)) {
        Errorf("Cannot write '%s'", options.m_Svg);
        return 1;
    }
    return fflush(stdout) == 0 ? 0 : 1;
}

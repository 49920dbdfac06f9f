// The parts of segzip layout's picture that its page and its rows share.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "zip/segzip/layout.h"

// Where a row's parts stand below its top.
const double kTrackTop = 16;
const double kTrackHeight = 14;
const double kLaneHeight = 5;  // opened again: under the track, not over the first read
const double kRowHeight = 46;

// What a row's track needs to know of the other rows.
struct TrackRow {
    const std::vector<SortedSegment>* m_Segments;
    int32_t m_Index;
    const SegmentFigures* m_Figures;
};

// A read that starts before where the one before it left the drive.
inline bool GoesBack(const LayoutRead& before, const LayoutRead& read) {
    return read.m_Start < before.m_Start + before.m_Length;
}

// The style class a read is drawn in; the legend names the same three.
inline const char* ReadClass(ReadKind kind) {
    return kind == kReadFirst ? "first" : kind == kReadEarlier ? "earlier" : "again";
}

std::string Escaped(const std::string& text);

// "0.24 MB", "12.3 MB": offsets in MB of 1,048,576 bytes, as the table counts.
std::string Megabytes(double bytes);
// The same below a megabyte in KB or bytes.
std::string Kilobytes(double bytes);

// A segment's reads zoomed to the bytes it reads: long gaps cut, small
// members widened, its scale told under it.
void DrawTrack(FILE* svg, double x, double top, double width, const TrackRow& row);

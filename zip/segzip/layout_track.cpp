// One segment's row of the layout picture, zoomed to what it reads. A row
// drawn to the whole archive's scale squeezes a level's small members into
// slivers beside one large member or the gaps between packs, so each row has
// its own scale: gaps a drive seeks over are cut to a fixed width, and a
// member is never narrower than a few pixels; the offsets under the row and
// its scale note keep the picture honest about both.
#include <algorithm>
#include <cstring>

#include "zip/segzip/layout_svg.h"

namespace {

const double kLeast = 3;         // a member's least width
const double kCutWidth = 12;     // a gap over the read-through limit
const double kFixedShare = 0.6;  // of the row, at most, for those two

struct Piece {
    uint32_t m_Start;
    uint32_t m_End;
    bool m_Member;  // a member read, or the gap up to the next one
    double m_X;
    double m_Width;
};

struct Sizing {
    double m_Scale;  // pixels a byte
    double m_Least;
    double m_Cut;
};

bool IsCut(const Piece& p) {
    return !p.m_Member && p.m_End - p.m_Start > kReadThrough;
}

double WidthOf(const Piece& p, const Sizing& s) {
    if (IsCut(p)) return s.m_Cut;
    double width = (p.m_End - p.m_Start) * s.m_Scale;
    return p.m_Member ? std::max(width, s.m_Least) : width;
}

double TotalWidth(const std::vector<Piece>& pieces, const Sizing& s) {
    double total = 0;
    for (const Piece& p : pieces) total += WidthOf(p, s);
    return total;
}

// The members a row reads in archive order, and the gaps between them.
std::vector<Piece> PiecesOf(const std::vector<LayoutRead>& reads) {
    std::vector<std::pair<uint32_t, uint32_t>> members;
    for (const LayoutRead& r : reads) members.emplace_back(r.m_Start, r.m_Start + r.m_Length);
    std::sort(members.begin(), members.end());
    members.erase(std::unique(members.begin(), members.end()), members.end());
    std::vector<Piece> pieces;
    for (const auto& m : members) {
        if (!pieces.empty() && m.first > pieces.back().m_End)
            pieces.push_back(Piece{pieces.back().m_End, m.first, false, 0, 0});
        pieces.push_back(Piece{m.first, m.second, true, 0, 0});
    }
    return pieces;
}

// The largest scale at which the row fits its width; the fixed widths
// shrink when there are too many of them to leave the bytes a say.
Sizing Fit(const std::vector<Piece>& pieces, double width) {
    double members = 0, cuts = 0, bytes = 0;
    for (const Piece& p : pieces) {
        cuts += IsCut(p);
        members += p.m_Member;
        bytes += IsCut(p) ? 0 : p.m_End - p.m_Start;
    }
    double fixed = members * kLeast + cuts * kCutWidth;
    double shrink = fixed > width * kFixedShare ? width * kFixedShare / fixed : 1;
    Sizing s{0, kLeast * shrink, kCutWidth * shrink};
    double low = 0, high = bytes > 0 ? width / bytes : 0;
    for (int i = 0; i < 60 && high > 0; ++i) {
        s.m_Scale = (low + high) / 2;
        (TotalWidth(pieces, s) > width ? high : low) = s.m_Scale;
    }
    s.m_Scale = low;
    return s;
}

const Piece& PieceAt(const std::vector<Piece>& pieces, uint32_t start) {
    return *std::lower_bound(pieces.begin(), pieces.end(), start,
                             [](const Piece& p, uint32_t at) { return p.m_Start < at; });
}

std::string TitleOf(const LayoutRead& r, size_t order, const TrackRow& row) {
    const std::vector<SortedSegment>& segments = *row.m_Segments;
    std::string name = r.m_Entry->m_Name;
    char text[200];
    snprintf(text, sizeof text, "\noffset %u, %u bytes\nread %zu of %zu in ", r.m_Start, r.m_Length, order,
             row.m_Figures->m_Reads.size());
    std::string title = name + text + segments[static_cast<size_t>(row.m_Index)].m_Name;
    if (r.m_Seek) title += ", after a seek";
    if (r.m_Kind == kReadEarlier) title += "\nread before by " + segments[static_cast<size_t>(r.m_FirstReader)].m_Name;
    if (r.m_Kind == kReadAgain) title += "\nopened again in this segment, as " + *r.m_Spelling;
    return Escaped(title);
}

void DrawGaps(FILE* svg, const std::vector<Piece>& pieces, double top) {
    double y = top + kTrackTop, bottom = y + kTrackHeight;
    for (const Piece& p : pieces) {
        if (p.m_Member) continue;
        if (!IsCut(p)) {
            fprintf(svg, "<rect class=\"through\" x=\"%.2f\" y=\"%g\" width=\"%.2f\" height=\"%g\"/>\n", p.m_X, y,
                    p.m_Width, kTrackHeight);
            continue;
        }
        double mid = p.m_X + p.m_Width / 2, lean = std::min(3.0, p.m_Width / 3);
        fprintf(svg,
                "<path class=\"cut\" d=\"M%.2f %g l%.2f %g M%.2f %g l%.2f %g\"><title>%s not read</title></path>\n",
                mid - lean - 1, bottom + 2, 2 * lean, -kTrackHeight - 4, mid + 1 - lean, bottom + 2, 2 * lean,
                -kTrackHeight - 4, Kilobytes(p.m_End - p.m_Start).c_str());
    }
}

void DrawReads(FILE* svg, const std::vector<Piece>& pieces, double top, const TrackRow& row) {
    const std::vector<LayoutRead>& reads = row.m_Figures->m_Reads;
    for (size_t i = 0; i < reads.size(); ++i) {
        const LayoutRead& r = reads[i];
        const Piece& p = PieceAt(pieces, r.m_Start);
        bool again = r.m_Kind == kReadAgain;
        double y = top + kTrackTop + (again ? kTrackHeight + 1 : 0);
        double width = p.m_Width > 2 ? p.m_Width - 0.75 : p.m_Width;  // neighbours stay apart
        fprintf(svg, "<rect class=\"%s\" x=\"%.2f\" y=\"%g\" width=\"%.2f\" height=\"%g\"><title>%s</title></rect>\n",
                ReadClass(r.m_Kind), p.m_X, y, width, again ? kLaneHeight : kTrackHeight,
                TitleOf(r, i + 1, row).c_str());
    }
}

// Each seek: a mark where the drive lands and, from the second read on, an
// arc from where it stood; dashed when it goes back.
void DrawSeeks(FILE* svg, const std::vector<Piece>& pieces, double top, const std::vector<LayoutRead>& reads) {
    double y = top + kTrackTop;
    for (size_t i = 0; i < reads.size(); ++i) {
        if (!reads[i].m_Seek) continue;
        double to = PieceAt(pieces, reads[i].m_Start).m_X;
        fprintf(svg, "<path class=\"mark\" d=\"M%.2f %g l-3 -5 h6 z\"/>\n", to, y);
        if (i == 0) continue;
        const Piece& from = PieceAt(pieces, reads[i - 1].m_Start);
        // Higher the farther it goes, so that short hops stay apart from long jumps.
        double x = from.m_X + from.m_Width, rise = 4 + 2 * (kTrackTop - 4) * std::min(1.0, std::abs(to - x) / 600);
        fprintf(svg, "<path class=\"seek%s\" d=\"M%.2f %g Q%.2f %g %.2f %g\"/>\n",
                GoesBack(reads[i - 1], reads[i]) ? " back" : "", x, y, (x + to) / 2, y - rise, to, y);
    }
}

// Offsets where the row starts and after each cut, where they fit.
void DrawOffsets(FILE* svg, const std::vector<Piece>& pieces, double top, double end) {
    double free = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (!pieces[i].m_Member || (i > 0 && !IsCut(pieces[i - 1]))) continue;
        std::string label = Megabytes(pieces[i].m_Start);
        double x = pieces[i].m_X, width = 5.5 * static_cast<double>(label.size());
        if (x < free || x + width > end) continue;
        fprintf(svg, "<text class=\"offset\" x=\"%.2f\" y=\"%g\">%s</text>\n", x, top + kRowHeight - 4, label.c_str());
        free = x + width + 6;
    }
}

}  // namespace

void DrawTrack(FILE* svg, double x, double top, double width, const TrackRow& row) {
    std::vector<Piece> pieces = PiecesOf(row.m_Figures->m_Reads);
    if (pieces.empty()) return;
    Sizing sizing = Fit(pieces, width);
    for (Piece& p : pieces) {
        p.m_X = x;
        p.m_Width = WidthOf(p, sizing);
        x += p.m_Width;
    }
    DrawGaps(svg, pieces, top);
    DrawReads(svg, pieces, top, row);
    DrawSeeks(svg, pieces, top, row.m_Figures->m_Reads);
    char note[80] = "";
    if (sizing.m_Scale > 0)
        snprintf(note, sizeof note, "1 px = %s, members at least %.1f px", Kilobytes(1 / sizing.m_Scale).c_str(),
                 sizing.m_Least);
    DrawOffsets(svg, pieces, top, x - 5.2 * static_cast<double>(strlen(note)) - 8);
    fprintf(svg, "<text class=\"note\" x=\"%.2f\" y=\"%g\" text-anchor=\"end\">%s</text>\n", x, top + kRowHeight - 4,
            note);
}

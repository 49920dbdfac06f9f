// segzip layout's picture: one row per segment, showing where in the archive
// it reads, what it reads and in which order, where it seeks and why, and
// what that costs.
#include "zip/segzip/layout_svg.h"

#include "core/strings.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

const double kLabelX = 8;
const double kWholeX = 190, kWholeWidth = 250;  // the whole archive, one scale for every row
const double kTrackX = 460, kTrackWidth = 900;  // each row zoomed to what it reads
const double kTimeX = 1380, kTimeWidth = 140;
const double kPageWidth = 1600;
const double kRowsTop = 112;

const char kStyle[] =
    "<style>\n"
    "text { font-family: sans-serif; font-size: 11px; fill: #222 }\n"
    ".title { font-size: 16px; font-weight: bold } .heading { font-weight: bold }\n"
    ".name { font-size: 12px; font-weight: bold } .small { font-size: 10px; fill: #444 }\n"
    ".note, .offset { font-size: 9px; fill: #555 }\n"
    ".first { fill: #1f5fa8 } .earlier { fill: #e69b00 } .again { fill: #9b30b8 } .through { fill: #b9cde6 }\n"
    ".bed { fill: #e4e4e4 } .stripe { fill: #f6f6f6 } .grid { stroke: #ccc }\n"
    ".cut { stroke: #555; stroke-width: 1.5; fill: none } .mark { fill: #d0201b }\n"
    ".seek { stroke: #d0201b; stroke-width: 0.8; fill: none } .back { stroke-dasharray: 3 2 }\n"
    ".seektime { fill: #d0201b } .readtime { fill: #7fa7d4 }\n"
    "</style>\n";

std::string Grouped(uint64_t value) {
    std::string digits = std::to_string(value), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

void Header(FILE* svg, const LayoutPicture& picture, const std::vector<SegmentFigures>& figures) {
    int64_t files = 0, seeks = 0;
    double ms = 0;
    for (const SegmentFigures& f : figures) files += f.m_Files, seeks += f.m_Seeks, ms += f.m_SeekMs + f.m_ReadMs;
    fprintf(svg, "<text class=\"title\" x=\"%g\" y=\"22\">%s: %s bytes (%s), %s members</text>\n", kLabelX,
            Escaped(picture.m_Archive).c_str(), Grouped(picture.m_ArchiveBytes).c_str(),
            Megabytes(static_cast<double>(picture.m_ArchiveBytes)).c_str(),
            Grouped(static_cast<uint64_t>(picture.m_Members)).c_str());
    fprintf(svg,
            "<text x=\"%g\" y=\"42\">%zu segments of %s, each read in its order: %s files, %s seeks, %s ms "
            "estimated for a disc drive at %g ms a seek and %g MB/s, gaps up to 64 KB read through</text>\n",
            kLabelX, figures.size(), Escaped(picture.m_Sorted).c_str(), Grouped(static_cast<uint64_t>(files)).c_str(),
            Grouped(static_cast<uint64_t>(seeks)).c_str(), Grouped(static_cast<uint64_t>(std::lround(ms))).c_str(),
            picture.m_SeekMs, picture.m_Mbps);
}

// A swatch drawn at (x, y) and its words; returns where the next one starts.
double LegendItem(FILE* svg, double x, double y, const char* swatch, const char* words) {
    fprintf(svg, "<g transform=\"translate(%g %g)\">%s</g>\n<text x=\"%g\" y=\"%g\">%s</text>\n", x, y, swatch, x + 22,
            y + 10, words);
    return x + 22 + 5.8 * static_cast<double>(strlen(words)) + 18;
}

void Legend(FILE* svg) {
    const char* const kItems[][2] = {
        {"<rect class=\"first\" width=\"16\" height=\"12\"/>", "read first by this segment"},
        {"<rect class=\"earlier\" width=\"16\" height=\"12\"/>", "read before by an earlier segment"},
        {"<rect class=\"again\" y=\"7\" width=\"16\" height=\"5\"/>", "opened again in this segment"},
        {"<rect class=\"through\" width=\"16\" height=\"12\"/>", "gap up to 64 KB, to scale"},
        {"<path class=\"cut\" d=\"M5 14 l4 -16 M9 14 l4 -16\"/>", "gap over 64 KB, cut"},
        {"<path class=\"mark\" d=\"M14 12 l-3 -5 h6 z\"/><path class=\"seek\" d=\"M0 12 Q7 -6 14 12\"/>",
         "seek (dashed: back)"},
        {"<rect class=\"seektime\" width=\"8\" height=\"12\"/><rect class=\"readtime\" x=\"8\" width=\"10\" "
         "height=\"12\"/>",
         "load time: seeking, reading"},
    };
    double x = kLabelX;
    for (const auto& item : kItems) x = LegendItem(svg, x, 54, item[0], item[1]);
}

// Whole MB steps of 1, 2 or 5 times a power of ten, about five to the axis.
double TickStep(double megabytes) {
    double step = std::pow(10.0, std::floor(std::log10(std::max(megabytes, 1e-3) / 5)));
    for (double times : {1.0, 2.0, 5.0, 10.0})
        if (megabytes / (step * times) <= 6) return step * times;
    return step * 10;
}

void Columns(FILE* svg, const LayoutPicture& picture, double bottom) {
    fprintf(svg, "<text class=\"heading\" x=\"%g\" y=\"88\">segment</text>\n", kLabelX);
    fprintf(svg, "<text class=\"heading\" x=\"%g\" y=\"88\">where in the archive (MB)</text>\n", kWholeX);
    fprintf(svg,
            "<text class=\"heading\" x=\"%g\" y=\"88\">what it reads, in archive order</text><text "
            "class=\"small\" x=\"%g\" y=\"102\">each row to its own scale: gaps over 64 KB cut, small members "
            "widened, offsets in MB</text>\n",
            kTrackX, kTrackX);
    fprintf(svg, "<text class=\"heading\" x=\"%g\" y=\"88\">estimated load time</text>\n", kTimeX);
    double megabytes = static_cast<double>(picture.m_ArchiveBytes) / kMegabyte, step = TickStep(megabytes);
    for (double at = 0; at <= megabytes + 1e-9; at += step) {
        double x = kWholeX + kWholeWidth * at / std::max(megabytes, 1e-9);
        fprintf(svg,
                "<line class=\"grid\" x1=\"%.2f\" y1=\"%g\" x2=\"%.2f\" y2=\"%g\"/><text class=\"note\" "
                "x=\"%.2f\" y=\"%g\" text-anchor=\"middle\">%g</text>\n",
                x, kRowsTop - 6, x, bottom, x, kRowsTop - 9, at);
    }
}

void Whole(FILE* svg, double top, uint64_t archiveBytes, const SegmentFigures& f) {
    double scale = kWholeWidth / static_cast<double>(std::max<uint64_t>(archiveBytes, 1));
    fprintf(svg, "<rect class=\"bed\" x=\"%g\" y=\"%g\" width=\"%g\" height=\"%g\"/>\n", kWholeX, top + kTrackTop,
            kWholeWidth, kTrackHeight);
    for (const LayoutRead& r : f.m_Reads)
        fprintf(svg, "<rect class=\"%s\" x=\"%.2f\" y=\"%g\" width=\"%.2f\" height=\"%g\"/>\n", ReadClass(r.m_Kind),
                kWholeX + r.m_Start * scale, top + kTrackTop, std::max(1.0, r.m_Length * scale), kTrackHeight);
}

void Time(FILE* svg, double top, double longest, const SegmentFigures& f) {
    double scale = longest > 0 ? kTimeWidth / longest : 0, y = top + kTrackTop;
    fprintf(svg, "<g><title>%.1f ms seeking (%d seeks), %.1f ms reading %s</title>", f.m_SeekMs, f.m_Seeks, f.m_ReadMs,
            Megabytes(static_cast<double>(f.m_Read)).c_str());
    fprintf(svg,
            "<rect class=\"seektime\" x=\"%g\" y=\"%g\" width=\"%.2f\" height=\"%g\"/><rect class=\"readtime\" "
            "x=\"%.2f\" y=\"%g\" width=\"%.2f\" height=\"%g\"/>",
            kTimeX, y, f.m_SeekMs * scale, kTrackHeight, kTimeX + f.m_SeekMs * scale, y, f.m_ReadMs * scale,
            kTrackHeight);
    fprintf(svg, "<text x=\"%.2f\" y=\"%g\">%.1f ms</text></g>\n", kTimeX + (f.m_SeekMs + f.m_ReadMs) * scale + 4,
            y + 11, f.m_SeekMs + f.m_ReadMs);
}

std::string Counted(int32_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// The segment's name and counts, and why it seeks: a well-ordered archive
// still sends a segment back to what earlier segments read.
void Label(FILE* svg, double top, const TrackRow& row) {
    const SegmentFigures& f = *row.m_Figures;
    int32_t before = 0, back = 0;
    for (size_t i = 0; i < f.m_Reads.size(); ++i) {
        before += f.m_Reads[i].m_Seek && f.m_Reads[i].m_Kind != kReadFirst;
        back += i > 0 && GoesBack(f.m_Reads[i - 1], f.m_Reads[i]);
    }
    std::string counts = Counted(f.m_Files, "file");
    if (f.m_Missing) counts += " (" + std::to_string(f.m_Missing) + " missing)";
    counts += ", " + Counted(f.m_Seeks, "seek");
    std::string why = before ? std::to_string(before) + " to files read before" : "";
    if (back) why += (before ? ", " : "") + std::to_string(back) + " back";
    fprintf(svg,
            "<text class=\"name\" x=\"%g\" y=\"%g\">%s</text>\n<text class=\"small\" x=\"%g\" y=\"%g\">%s</text>\n"
            "<text class=\"note\" x=\"%g\" y=\"%g\">%s</text>\n",
            kLabelX, top + 16, Escaped((*row.m_Segments)[static_cast<size_t>(row.m_Index)].m_Name).c_str(), kLabelX,
            top + 29, counts.c_str(), kLabelX, top + 40, why.c_str());
}

void Row(FILE* svg, double top, const LayoutPicture& picture, const TrackRow& row, double longest) {
    Label(svg, top, row);
    Whole(svg, top, picture.m_ArchiveBytes, *row.m_Figures);
    DrawTrack(svg, kTrackX, top, kTrackWidth, row);
    Time(svg, top, longest, *row.m_Figures);
}

}  // namespace

static std::string LatinOne(char c) {
    char reference[8];
    snprintf(reference, sizeof reference, "&#x%02X;", static_cast<unsigned char>(c));
    return reference;
}

// Names are 8-bit text: UTF-8 passes as it is, and a byte that is not part
// of a UTF-8 character (a name written in a Windows code page, most likely)
// is shown as the Latin-1 character of its value, since a stray byte would
// make the whole picture unreadable XML.
std::string Escaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        char c = text[i];
        int length = Utf8Length(text.c_str() + i);
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else if (c >= 0 && c < ' ' && c != '\n') out += '?';  // not allowed in XML
        else if (length == 0) out += LatinOne(c);
        else out.append(text, i, static_cast<size_t>(length));
        i += length > 1 ? static_cast<size_t>(length) : 1;
    }
    return out;
}

std::string Megabytes(double bytes) {
    char text[32];
    double megabytes = bytes / kMegabyte;
    snprintf(text, sizeof text, megabytes < 10 ? "%.2f MB" : "%.1f MB", megabytes);
    return text;
}

std::string Kilobytes(double bytes) {
    if (bytes >= kMegabyte) return Megabytes(bytes);
    char text[32];
    if (bytes < 1024) snprintf(text, sizeof text, bytes < 10 ? "%.2g bytes" : "%.0f bytes", bytes);
    else snprintf(text, sizeof text, "%.1f KB", bytes / 1024);
    return text;
}

bool WriteLayoutSvg(const char* name, const LayoutPicture& picture, const std::vector<SortedSegment>& segments,
                    const std::vector<SegmentFigures>& figures) {
    // "-" is standard output, which the program checks whole at its end.
    bool toStdout = strcmp(name, "-") == 0;
    FILE* svg = toStdout ? stdout : fopen(name, "w");
    if (!svg) return false;
    double bottom = kRowsTop + kRowHeight * static_cast<double>(segments.size()), longest = 0;
    for (const SegmentFigures& f : figures) longest = std::max(longest, f.m_SeekMs + f.m_ReadMs);
    fprintf(svg,
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%g\" height=\"%g\">\n%s<rect width=\"100%%\" "
            "height=\"100%%\" fill=\"white\"/>\n",
            kPageWidth, bottom + 10, kStyle);
    Header(svg, picture, figures);
    Legend(svg);
    for (size_t i = 1; i < segments.size(); i += 2)
        fprintf(svg, "<rect class=\"stripe\" y=\"%g\" width=\"100%%\" height=\"%g\"/>\n",
                kRowsTop + kRowHeight * static_cast<double>(i), kRowHeight);
    Columns(svg, picture, bottom);
    for (size_t i = 0; i < segments.size(); ++i)
        Row(svg, kRowsTop + kRowHeight * static_cast<double>(i), picture,
            TrackRow{&segments, static_cast<int32_t>(i), &figures[i]}, longest);
    fputs("</svg>\n", svg);
    bool ok = !ferror(svg);
    return toStdout ? fflush(svg) == 0 && ok : fclose(svg) == 0 && ok;
}

#include "support/reference_grouping.h"

#include <algorithm>

std::string Fold(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

std::vector<std::string> Pieces(const std::string& dump) {
    std::vector<std::string> pieces;
    for (size_t at = 0; at < dump.size();) {
        size_t end = dump.find('\n', at);
        size_t length = end == std::string::npos ? dump.size() - at : end - at + 1;
        length = std::min<size_t>(length, 4095);
        pieces.push_back(dump.substr(at, length));
        at += length;
    }
    return pieces;
}

namespace {

struct RefSegment {
    std::string m_Name;
    std::vector<std::string> m_Files;
};

}  // namespace

std::string Reference(const std::string& dump) {
    std::vector<RefSegment> segments;
    int current = -1;
    auto begin = [&](const std::string& name) {
        for (current = 0; current < int(segments.size()); ++current)
            if (Fold(segments[current].m_Name) == Fold(name)) return;
        segments.push_back({name, {}});
    };
    for (const std::string& piece : Pieces(dump)) {
        std::string line(piece.c_str());  // a zero byte ends the line
        size_t close = line.size() > 12 ? line.find(')', 12) : std::string::npos;
        if (close == std::string::npos) continue;
        if (Fold(line.substr(0, 11)) == "::loadseg::") {
            begin(line.substr(12, close - 12));
        } else if (Fold(line.substr(0, 8)) == "::open::") {
            if (current < 0) begin("default");
            std::string name = line.substr(9, close - 9);
            if (name[0] == '$' && (name[1] == '\\' || name[1] == '/')) name = name.substr(2);
            std::vector<std::string>& files = segments[current].m_Files;
            bool seen = false;
            for (const std::string& f : files) seen |= Fold(f) == Fold(name);
            if (!seen) files.push_back(name);
        }
    }
    std::string out;
    for (const RefSegment& s : segments) {
        out += "::LOADSEG::(" + s.m_Name + ")\r\n";
        for (const std::string& f : s.m_Files) {
            out += "::OPEN::(" + f + ")";
            for (const RefSegment& other : segments)
                for (const std::string& g : other.m_Files)
                    if (&other != &s && g == f) out += "  // DupSeg " + other.m_Name;
            out += "\r\n";
        }
    }
    return out;
}

# The grouping segsorter does, as a plain awk script, for comparison:
#   LC_ALL=C awk -f bench/segsort.awk loaddump > sortedfile
# One group per segment (case ignored) in order of first appearance, repeated
# opens dropped, and a DupSeg note for every other segment opening a file of
# the same spelling.
{
    p = index(substr($0, 13), ")")
    if (p == 0) next
    keyword = tolower(substr($0, 1, 11))
    if (keyword == "::loadseg::") segment(substr($0, 13, p - 1))
    else if (substr(keyword, 1, 8) == "::open::") open(substr($0, 10, p + 2))
}

function segment(name,    key) {
    key = tolower(name)
    if (!(key in segmentOf)) {
        segmentOf[key] = ++segments
        segmentName[segments] = name
    }
    current = segmentOf[key]
}

function open(name,    key) {
    if (!current) segment("default")
    if (name ~ /^\$[\\\/]/) name = substr(name, 3)
    key = current SUBSEP tolower(name)
    if (key in seen) return
    seen[key] = 1
    opens[current, ++count[current]] = name
}

END {
    for (s = 1; s <= segments; s++)
        for (i = 1; i <= count[s]; i++) holders[opens[s, i]] = holders[opens[s, i]] " " s
    for (s = 1; s <= segments; s++) {
        printf "::LOADSEG::(%s)\r\n", segmentName[s]
        for (i = 1; i <= count[s]; i++) {
            name = opens[s, i]
            notes = ""
            n = split(holders[name], h, " ")
            for (j = 1; j <= n; j++) if (h[j] != s) notes = notes "  // DupSeg " segmentName[h[j]]
            printf "::OPEN::(%s)%s\r\n", name, notes
        }
    }
}

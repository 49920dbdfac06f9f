#!/usr/bin/env bash
# Times segsorter, the awk script doing the same grouping, and wc -l on the
# same cached load dump, and checks that segsorter and awk agree.
#   bench/run.sh [typical] [wide] [shared] [large] [big]
# With no profile it runs typical, wide, shared and large. "big" checks that a
# dump past 3 GiB (a 1.65 GB one written twice) sorts like its first half.
# Dumps are generated once into $BENCH_DATA (default build/bench-data).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
data=${BENCH_DATA:-$build/bench-data}
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target segsorter gendump >/dev/null
mkdir -p "$data"
segsorter=$build/bin/segsorter

dump() {  # the dump of a profile, generated when missing
    [ -s "$data/$1.dump" ] || "$build/bin/gendump" "$1" "$data/$1.dump"
    echo "$data/$1.dump"
}

# Runs a command $runs times: best wall seconds in $secs, peak resident MB in
# $mb. Repeated runs are timed bare, clocked by bash itself, so no process
# start but the command's is counted (it would be most of a small dump's
# time), and one more under /usr/bin/time gives the memory; a single run (a
# slow command, where the wrapper is lost in the noise) is timed under it.
measure() {
    local best="" start end t kb
    for _ in $(seq "$runs"); do
        start=${EPOCHREALTIME/./}
        if [ "$runs" -gt 1 ]; then "$@" >/dev/null 2>&1 || true
        else /usr/bin/time -f "%M" -o "$data/rss" "$@" >/dev/null 2>&1 || true; fi
        end=${EPOCHREALTIME/./}
        t=$(( end - start ))
        if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
    done
    [ "$runs" -eq 1 ] || /usr/bin/time -f "%M" -o "$data/rss" "$@" >/dev/null 2>&1 || true
    kb=$(tail -n 1 "$data/rss")
    secs=$(awk -v us="$best" 'BEGIN { printf "%.4f", us / 1e6 }')
    mb=$(awk -v kb="$kb" 'BEGIN { printf "%.1f", kb / 1024 }')
}

row() { printf '  %-10s %8s s %9s MB/s %8s MB peak\n' "$1" "$2" "$3" "$4"; }
rate() { awk -v b="$1" -v s="$2" 'BEGIN { printf "%.0f", (s > 0 ? b / s / 1e6 : 0) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

bench() {
    local profile=$1 file bytes
    file=$(dump "$profile")
    bytes=$(stat -c %s "$file")
    runs=5
    [ "$profile" = large ] && runs=2
    cat "$file" >/dev/null  # in the page cache for everyone
    printf '%s: %s, %.1f MB, %s lines\n' "$profile" "$file" "$(ratio "$bytes" 1e6)" "$(wc -l <"$file")"
    measure wc -l "$file"
    local wcs=$secs
    row "wc -l" "$secs" "$(rate "$bytes" "$secs")" "$mb"
    measure "$segsorter" "$file" "$data/$profile.sorted"
    local sss=$secs ssmb=$mb
    row segsorter "$secs" "$(rate "$bytes" "$secs")" "$mb"
    if [ "$profile" = crafted ]; then  # against plain names: the same count, lengths and size
        local plain
        plain=$(dump plain)
        cat "$plain" >/dev/null
        measure "$segsorter" "$plain" "$data/plain.sorted"
        row "(plain)" "$secs" "$(rate "$bytes" "$secs")" "$mb"
        printf '  crafted names take %sx the time of plain ones\n' "$(ratio "$sss" "$secs")"
    fi
    runs=1
    measure sh -c "LC_ALL=C awk -f '$root/bench/segsort.awk' '$file' > '$data/$profile.awk'"
    row awk "$secs" "$(rate "$bytes" "$secs")" "$mb"
    printf '  segsorter: %s%% of wc -l throughput, %sx faster than awk, %s of awk peak memory\n' \
        "$(awk -v a="$wcs" -v b="$sss" 'BEGIN { printf "%.1f", 100 * a / b }')" \
        "$(ratio "$secs" "$sss")" "$(ratio "$ssmb" "$mb")"
    printf '  sorted files: %s\n' "$(cmp -s "$data/$profile.sorted" "$data/$profile.awk" &&
        echo identical || echo DIFFERENT)"
}

big() {
    local half whole
    half=$(dump half)
    whole=$data/big.dump
    [ -s "$whole" ] || cat "$half" "$half" >"$whole"
    printf 'big: %.2f GB, its first half %.2f GB\n' "$(ratio "$(stat -c %s "$whole")" 1e9)" \
        "$(ratio "$(stat -c %s "$half")" 1e9)"
    runs=1
    measure "$segsorter" "$whole" "$data/big.sorted"
    row segsorter "$secs" "$(rate "$(stat -c %s "$whole")" "$secs")" "$mb"
    "$segsorter" "$half" "$data/half.sorted" >/dev/null || true
    printf '  sorted files of the whole and of its first half: %s\n' \
        "$(cmp -s "$data/big.sorted" "$data/half.sorted" && echo identical || echo DIFFERENT)"
}

profiles=("$@")
[ ${#profiles[@]} -gt 0 ] || profiles=(typical wide shared large)
for profile in "${profiles[@]}"; do
    if [ "$profile" = big ]; then big; else bench "$profile"; fi
done

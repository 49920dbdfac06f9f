#!/usr/bin/env bash
# Times segsorter, the awk script doing the same grouping, and wc -l on the
# same cached load dump, and checks that segsorter and awk agree.
#   bench/run.sh [typical] [wide] [shared] [large] [big] [zip] [game] [level] [bigmembers]
# With no profile it runs typical, wide, shared and large. "big" checks that a
# dump past 3 GiB (a 1.65 GB one written twice) sorts like its first half.
# "zip" reads archive members through streams next to zlib, a plain file,
# unzip, bsdtar and cat, times segzip cat as a whole process next to bsdtar
# and cat, and mounts a 100,000-member archive in each name mode
# (ZIP_MEMBERS= another count). "game" builds archives of a synthetic game
# (bench/gengame.py) with segzip and with zip -r -9, and compares the layout of
# name order with load order. "level" loads the game's first level and its
# whole play-through with loadsim from those archives, warm and cold, next to
# Python's zipfile, and over filehost, and counts the bytes a mount reads.
# "bigmembers" builds a tree of two large files
# (300 and 200 MB) with both, for their time and peak memory.
# Dumps are generated once into $BENCH_DATA (default build/bench-data).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
data=${BENCH_DATA:-$build/bench-data}
cmake -S "$root" -B "$build" >/dev/null
targets=(segsorter gendump)
case " $* " in *" zip "*) targets+=(zip_bench) ;; esac
case " $* " in *" game "*) targets+=(segzip) ;; esac
case " $* " in *" zip "*) targets+=(segzip) ;; esac
case " $* " in *" level "*) targets+=(segzip zip_bench loadsim filehost) ;; esac
case " $* " in *" bigmembers "*) targets+=(segzip zip_bench) ;; esac
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
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

# The archivers the zip profile compares with, installed when missing.
zip_tools() {
    local missing=()
    command -v zip >/dev/null 2>&1 || missing+=(zip)
    command -v unzip >/dev/null 2>&1 || missing+=(unzip)
    command -v bsdtar >/dev/null 2>&1 || missing+=(libarchive-tools)
    command -v python3 >/dev/null 2>&1 || missing+=(python3)
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        DEBIAN_FRONTEND=noninteractive apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
}

# big.zip: ~200 MB of text deflated (zip -6) and another ~200 MB stored, the
# stored one also kept as a plain file; dir-N.zip: N small members.
zip_data() {
    local dir=$data/zip members=$1
    mkdir -p "$dir"
    if [ ! -s "$dir/big.zip" ]; then
        "$build/bin/zip_bench" text "$dir/deflated.txt" 200000000 1
        "$build/bin/zip_bench" text "$dir/stored.txt" 200000000 2
        rm -f "$dir/big.zip.part"
        (cd "$dir" && zip -q -6 big.zip.part deflated.txt && zip -q -0 big.zip.part stored.txt)
        rm "$dir/deflated.txt"
        mv "$dir/big.zip.part" "$dir/big.zip"
    fi
    [ -s "$dir/dir-$members.zip" ] || python3 - "$dir/dir-$members.zip" "$members" <<'PY'
import os, random, sys, zipfile
rng = random.Random(7)
kinds = [("Textures", "tex"), ("models", "mdl"), ("Sounds", "wav"), ("scripts", "lua"), ("anims", "anm")]
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 9))) for _ in range(400)]
# Stored: only the directory is measured, and a small deflated member may
# pack to its own length, which the zip layer refuses.
with zipfile.ZipFile(sys.argv[1] + ".part", "w", zipfile.ZIP_STORED) as z:
    for i in range(int(sys.argv[2])):
        kind, ext = kinds[i % len(kinds)]
        name = "Data/%s/level%02d/%s_%s_%06d.%s" % (kind, i // 5 % 40, rng.choice(words), rng.choice(words), i, ext)
        z.writestr(name, " ".join(rng.choice(words) for _ in range(rng.randint(5, 60))))
os.rename(sys.argv[1] + ".part", sys.argv[1])
PY
    echo "$dir"
}

zip_bench() {
    local dir members=${ZIP_MEMBERS:-100000} secs_unzip secs_bsdtar
    zip_tools
    dir=$(zip_data "$members")
    # In the page cache for everyone.
    cat "$dir/big.zip" "$dir/stored.txt" "$dir/dir-$members.zip" >/dev/null
    printf 'zip: %s (big.zip %.1f MB, dir-%s.zip %.1f MB)\n' "$dir" \
        "$(ratio "$(stat -c %s "$dir/big.zip")" 1e6)" "$members" \
        "$(ratio "$(stat -c %s "$dir/dir-$members.zip")" 1e6)"
    runs=3
    measure unzip -p "$dir/big.zip" deflated.txt
    secs_unzip=$secs
    measure bsdtar -xOf "$dir/big.zip" deflated.txt
    secs_bsdtar=$secs
    measure cat "$dir/stored.txt"
    "$build/bin/zip_bench" run "$dir" "$dir/dir-$members.zip" "$secs_unzip" "$secs_bsdtar" "$secs"
    cat_processes "$dir"
}

# segzip cat as a whole process (start, mount, member, exit) next to bsdtar
# on the same member and cat on the plain copy of the stored one.
cat_processes() {
    local dir=$1 member bytes ours theirs
    printf 'whole processes, to /dev/null (best of %s)\n' "$runs"
    for member in deflated.txt stored.txt; do
        bytes=$(unzip -Zl "$dir/big.zip" "$member" | awk '{ print $4; exit }')
        measure "$build/bin/segzip" cat "$dir/big.zip" "$member"
        ours=$secs
        printf '  %-26s %8s s %6s MB/s\n' "segzip cat $member" "$ours" "$(rate "$bytes" "$ours")"
        measure bsdtar -xOf "$dir/big.zip" "$member"
        theirs=$secs
        printf '  %-26s %8s s %6s MB/s\n' "bsdtar -xOf $member" "$theirs" "$(rate "$bytes" "$theirs")"
        printf '  segzip cat / bsdtar %-12s %s\n' "$member" "$(ratio "$theirs" "$ours")"
    done
    measure cat "$dir/stored.txt"
    printf '  %-26s %8s s %6s MB/s\n' "cat stored.txt" "$secs" "$(rate "$bytes" "$secs")"
    printf '  segzip cat / cat stored.txt  %s\n' "$(ratio "$secs" "$ours")"
}

# The last line of segzip layout: files, bytes, seeks, sectors, load ms.
layout_total() { "$build/bin/segzip" layout "$1" "$2" | tail -n 1 | sed 's/ *total$//'; }

game_bench() {
    local dir=$data/game segzip=$build/bin/segzip zipsecs zipmb
    zip_tools
    if [ ! -s "$dir/game.dump" ]; then
        rm -rf "$dir" && mkdir -p "$dir"
        python3 "$root/bench/gengame.py" "$dir"
    fi
    "$segsorter" "$dir/game.dump" "$dir/game.sorted" >/dev/null || true
    find "$dir/tree" -type f -exec cat {} + >/dev/null  # in the page cache for everyone
    printf 'game: %s, %s files, %.1f MB, %s segments (%s cores)\n' "$dir" \
        "$(find "$dir/tree" -type f | wc -l)" "$(ratio "$(du -sb "$dir/tree" | cut -f1)" 1e6)" \
        "$(grep -c '::LOADSEG::' "$dir/game.sorted")" "$(nproc)"
    runs=1
    measure sh -c "rm -f '$dir/iz.zip' && cd '$dir/tree' && zip -q -r -9 -X ../iz.zip ."
    zipsecs=$secs zipmb=$mb
    printf '  %-34s %7s s %12s bytes %7s MB peak\n' "zip -r -9" "$secs" "$(stat -c %s "$dir/iz.zip")" "$mb"
    measure "$segzip" build "$dir/tree" "$dir/name.zip"
    printf '  %-34s %7s s %12s bytes %7s MB peak\n' "segzip build (name order)" "$secs" \
        "$(stat -c %s "$dir/name.zip")" "$mb"
    printf '  segzip build: %sx the speed of zip -r -9, %s of its size\n' "$(ratio "$zipsecs" "$secs")" \
        "$(awk -v a="$(stat -c %s "$dir/name.zip")" -v b="$(stat -c %s "$dir/iz.zip")" 'BEGIN { printf "%.4f", a / b }')"
    measure "$segzip" build --align none "$dir/tree" "$dir/none.zip"
    printf '  %-34s %7s s %12s bytes\n' "segzip build --align none" "$secs" "$(stat -c %s "$dir/none.zip")"
    measure "$segzip" build --names-from "$dir/game.sorted" "$dir/tree" "$dir/load.zip"
    printf '  %-34s %7s s %12s bytes\n' "segzip build --names-from" "$secs" "$(stat -c %s "$dir/load.zip")"
    printf '  layout (100 ms a seek, 10 MB/s):   files        bytes   seeks   sectors     load ms\n'
    local name load
    name=$(layout_total "$dir/name.zip" "$dir/game.sorted")
    load=$(layout_total "$dir/load.zip" "$dir/game.sorted")
    printf '  %-30s %s\n' "zip -r -9" "$(layout_total "$dir/iz.zip" "$dir/game.sorted")" \
        "name order" "$name" "load order" "$load"
    read -r _ _ nseeks nspan nms <<<"$name"
    read -r _ _ lseeks lspan lms <<<"$load"
    printf '  load order: %sx fewer seeks, %sx smaller span, %sx shorter estimated load\n' \
        "$(ratio "$nseeks" "$lseeks")" "$(ratio "$nspan" "$lspan")" "$(ratio "$nms" "$lms")"
}

# ----------------------------------------------------------------- level

# The median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.1f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Drops a file from the page cache, so that its next reads go to the disk.
evict() {
    python3 -c 'import os,sys; fd=os.open(sys.argv[1],os.O_RDONLY); os.posix_fadvise(fd,0,0,os.POSIX_FADV_DONTNEED)' "$1"
}

# A loadsim script of a dump's opens, to the end of its first $2 segments (0:
# all of it), named as the archives name them: no "$\", slashes.
level_script() {
    awk -v keep="$2" '
        /^::LOADSEG::\(/ { if (keep && ++n > keep) exit
                           sub(/^::LOADSEG::\(/, ""); sub(/\)[^)]*$/, ""); print "segment " $0; next }
        /^::OPEN::\(/    { sub(/^::OPEN::\(/, ""); sub(/\)[^)]*$/, ""); sub(/^\$\\/, ""); gsub(/\\/, "/"); print }' "$1"
}

# One run of a loader, TAG naming its lists in $lv: the process's wall ms
# (clocked by bash), and from its summary line the in-process ms, the mount's
# (or zipfile's open) ms and the bytes loaded. A failed run stops the bench.
timed_run() {
    local tag=$1 start end
    shift
    start=${EPOCHREALTIME/./}
    if ! "$@" >/dev/null 2>"$lv/err"; then cat "$lv/err" >&2; return 1; fi
    end=${EPOCHREALTIME/./}
    echo "$(( end - start ))e-3" >>"$lv/$tag.proc"
    sed -n 's/.* files, \([0-9]*\) bytes, \([0-9.]*\) ms.*/\2/p' "$lv/err" >>"$lv/$tag.in"
    sed -n 's/.* files, \([0-9]*\) bytes, .*/\1/p' "$lv/err" >"$lv/$tag.bytes"
    sed -n 's/^loadsim: mounted .* in \([0-9.]*\) ms$/\1/p; s/.*(open \([0-9.]*\) ms)$/\1/p' "$lv/err" >>"$lv/$tag.mount"
}

# TAG's medians: process, in-process and mount ms into $proc, $inproc, $mount.
medians() {
    proc=$(median <"$lv/$1.proc")
    inproc=$(median <"$lv/$1.in")
    mount=$(median <"$lv/$1.mount")
}

level_row() {  # LABEL TAG
    local bytes
    bytes=$(cat "$lv/$2.bytes")
    medians "$2"
    printf '  %-30s %9s %9s %8s %8s\n' "$1" "$proc" "$inproc" "$mount" \
        "$([ "$bytes" -gt 0 ] && rate "$bytes" "$(ratio "$inproc" 1000)" || echo -)"
}

# $runs interleaved runs of loadsim and zipfile loading SCRIPT from ARCHIVE,
# each cold run after evicting the archive; rows of their medians and ratios.
level_pair() {  # ARCHIVE SCRIPT warm|cold LABEL
    local archive=$1 script=$2 cache=$3 tag=$4 lsproc lsin
    local names=$lv/$(basename "$script" .script).$(basename "$archive" .zip).names
    [ -s "$names" ] || python3 "$root/bench/level_zipfile.py" names "$archive" "$script" >"$names"
    rm -f "$lv/$tag".* "$lv/$tag-py".*
    [ "$cache" = cold ] || cat "$archive" >/dev/null
    for _ in $(seq "$runs"); do
        [ "$cache" = warm ] || evict "$archive"
        timed_run "$tag" "$build/bin/loadsim" --mount "$archive" "$script"
        [ "$cache" = warm ] || evict "$archive"
        timed_run "$tag-py" python3 "$root/bench/level_zipfile.py" read "$archive" "$names"
    done
    level_row "$tag $cache, loadsim" "$tag"
    lsproc=$proc lsin=$inproc
    level_row "$tag $cache, zipfile" "$tag-py"
    printf '  %-30s zipfile / loadsim in-process %s, zipfile in-process / loadsim process %s\n' "" \
        "$(ratio "$inproc" "$lsin")" "$(ratio "$inproc" "$lsproc")"
}

# loadsim with every name, the archive's own included, on a filehost serving
# the game's folder over loopback: SCRIPT from ARCHIVE, $runs times.
remote_runs() {  # ARCHIVE SCRIPT TAG
    rm -f "$lv/$3".*
    for _ in $(seq "$runs"); do
        timed_run "$3" "$build/bin/loadsim" --host "127.0.0.1:$port" --map '*=remote,zip' \
            --mount "$(basename "$1")" "$2"
    done
}

level_bench() {
    local dir=$data/game lv=$data/level host port disk model source proc inproc mount local_in
    [ -s "$dir/load.zip" ] && [ -s "$dir/iz.zip" ] || game_bench
    mkdir -p "$lv"
    level_script "$dir/game.dump" 3 >"$lv/level.script"
    level_script "$dir/game.dump" 0 >"$lv/play.script"
    printf 'segment mount\n' >"$lv/mount.script"
    source=$(findmnt -no SOURCE -T "$dir" 2>/dev/null || echo '?')
    disk=$(basename "$source")
    [ -e "/sys/block/$disk" ] || disk=$(lsblk -no PKNAME "$source" 2>/dev/null | head -n 1)
    printf 'level: %s; level = the first 3 segments of game.dump (%s files), play-through = all of it (%s files)\n' \
        "$dir" "$(grep -vc '^segment ' "$lv/level.script")" "$(grep -vc '^segment ' "$lv/play.script")"
    model=$(lsblk -dno MODEL "/dev/$disk" 2>/dev/null | sed 's/ *$//')
    printf '  disk: %s (%s, model %s, rotational %s as the kernel reports it); cold = after posix_fadvise DONTNEED\n' \
        "$source" "${disk:-?}" "${model:-not reported}" "$(cat "/sys/block/$disk/queue/rotational" 2>/dev/null || echo '?')"
    for archive in load iz; do "$build/bin/zip_bench" mountbytes "$dir/$archive.zip" | sed 's/^/  /'; done
    runs=7
    printf '  %-30s %9s %9s %8s %8s\n' "medians of $runs, interleaved" "process" "in-proc" "mount" "MB/s" \
        "(ms; mount: zipfile's open)" "ms" "ms" "ms" "in-proc"
    level_pair "$dir/load.zip" "$lv/level.script" warm load.zip
    local_in=$(median <"$lv/load.zip.in")
    level_pair "$dir/iz.zip" "$lv/level.script" warm iz.zip
    level_pair "$dir/load.zip" "$lv/level.script" cold load.zip
    level_pair "$dir/iz.zip" "$lv/level.script" cold iz.zip
    runs=3
    printf '  play-through, medians of %s\n' "$runs"
    level_pair "$dir/load.zip" "$lv/play.script" warm load.zip
    level_pair "$dir/iz.zip" "$lv/play.script" warm iz.zip
    "$build/bin/filehost" "$dir" 0 >"$lv/filehost.log" 2>&1 &
    host=$!
    until grep -q ' port ' "$lv/filehost.log"; do sleep 0.1; done
    port=$(sed -n 's/.* port \([0-9]*\);.*/\1/p' "$lv/filehost.log")
    runs=7
    printf '  filehost over loopback, warm, medians of %s\n' "$runs"
    remote_runs "$dir/load.zip" "$lv/level.script" remote-level
    level_row "level from load.zip, loadsim" remote-level
    printf '  %-30s remote speed / local speed, in-process %s\n' "" "$(ratio "$local_in" "$inproc")"
    for archive in load iz; do
        remote_runs "$dir/$archive.zip" "$lv/mount.script" "remote-$archive"
        level_row "mount alone, $archive.zip" "remote-$archive"
    done
    kill -INT "$host" && wait "$host" || true
}

# Large members stream through deflate in pieces: a build's memory stays
# bounded by the pieces in flight, however large the files.
bigmembers_bench() {
    local dir=$data/bigmembers
    zip_tools
    mkdir -p "$dir/tree"
    [ -s "$dir/tree/a.txt" ] || "$build/bin/zip_bench" text "$dir/tree/a.txt" 300000000 3
    [ -s "$dir/tree/b.txt" ] || "$build/bin/zip_bench" text "$dir/tree/b.txt" 200000000 4
    cat "$dir"/tree/* >/dev/null  # in the page cache for everyone
    printf 'bigmembers: %s, files of 300 and 200 MB (%s cores)\n' "$dir" "$(nproc)"
    runs=1
    measure sh -c "rm -f '$dir/iz.zip' && cd '$dir/tree' && zip -q -r -9 -X ../iz.zip ."
    printf '  %-14s %7s s %12s bytes %7s MB peak\n' "zip -r -9" "$secs" "$(stat -c %s "$dir/iz.zip")" "$mb"
    measure "$build/bin/segzip" build "$dir/tree" "$dir/segzip.zip"
    printf '  %-14s %7s s %12s bytes %7s MB peak\n' "segzip build" "$secs" "$(stat -c %s "$dir/segzip.zip")" "$mb"
}

profiles=("$@")
[ ${#profiles[@]} -gt 0 ] || profiles=(typical wide shared large)
for profile in "${profiles[@]}"; do
    case "$profile" in
        big) big ;;
        zip) zip_bench ;;
        game) game_bench ;;
        level) level_bench ;;
        bigmembers) bigmembers_bench ;;
        *) bench "$profile" ;;
    esac
done

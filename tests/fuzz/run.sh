#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz and runs each for a bounded
# time, on a working copy of its seed corpus kept in build-fuzz/corpus (the
# committed seeds never grow). A crash, leak or hang stops that target and
# leaves its input in build-fuzz/artifacts; the script then fails.
#
#   tests/fuzz/run.sh [seconds per target] [target ...]
#
# Without targets every *_fuzz.cpp is run; 60 seconds each unless told.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
command -v clang++-14 >/dev/null || { echo "clang++-14 is missing: apt-get install clang-14 libclang-rt-14-dev" >&2; exit 2; }

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DSEGSORTER_FUZZ=ON -DSEGSORTER_TESTS=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
cmake --build build-fuzz -j2 --target "${targets[@]}" >/dev/null

# Longest input per target: dumps need room for lines past the 4095-byte piece,
# archives for an end record behind a comment of up to 64 KB.
max_len() {
    case $1 in
        dump_fuzz) echo 16384 ;;
        archive_fuzz) echo 66000 ;;
        *) echo 8192 ;;
    esac
}

# filehost_fuzz remakes its served root for every input, zipwriter_fuzz its
# tree and archive: in memory, when it can.
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

mkdir -p build-fuzz/artifacts
status=0
for target in "${targets[@]}"; do
    work=build-fuzz/corpus/$target
    mkdir -p "$work"
    cp -n tests/fuzz/corpus/"$target"/* "$work"/ 2>/dev/null || true
    echo "== $target: $seconds s"
    if ! build-fuzz/bin/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
            -max_len="$(max_len "$target")" -print_final_stats=1 \
            -artifact_prefix=build-fuzz/artifacts/"$target"- "$work" \
            > build-fuzz/"$target".log 2>&1; then
        status=1
        echo "$target found a fault:"
        grep -v '^\s*$' build-fuzz/"$target".log | tail -40
    fi
    grep -E '^#[0-9]+.*DONE|^stat::number_of_executed_units' build-fuzz/"$target".log | tail -2 || true
done
exit $status

#!/usr/bin/env bash
# The library as a game's CMake dependency, both ways a game can take it:
# installed and found with find_package, and added as a subdirectory. Each
# way builds examples/consumer, runs it on an archive of examples/loadsim/data
# and checks that it prints a load dump which the installed segsorter sorts
# into the level's load order.
#
#   examples/consumer/check.sh [BUILD_DIR]
#
# BUILD_DIR (default: build) is configured and built as far as installing
# needs, so a build the tests already made is reused.
set -euo pipefail
cd "$(dirname "$0")/../.."
source=$PWD
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

step() { echo "-- consumer check: $*"; }
fail() { echo "consumer check FAILED: $*" >&2; exit 1; }

step "building and installing the project from $build"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target corelib segsorter segzip loadsim filehost >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null
for program in segsorter segzip loadsim filehost; do
    [ -x "$prefix/bin/$program" ] || fail "$program was not installed"
done

# Every installed header, included by its name inside the project: one that
# includes a header left out of the install fails here.
(cd "$prefix/include/segsorter" && find . -name '*.h' | sed 's|^\./\(.*\)|#include "\1"|') >"$work/headers.cpp"
c++ -std=c++17 -fsyntax-only -I"$prefix/include/segsorter" "$work/headers.cpp" \
    || fail "the installed headers do not compile on their own"

(cd examples/loadsim && python3 -m zipfile -c "$work/level.zip" data)
level=(frontend: data/ui/menu.txt data/ui/font.txt
       hall: data/rooms/hall.txt data/textures/stone.txt data/ui/font.txt
       garden: data/rooms/garden.txt data/textures/grass.txt data/textures/stone.txt)
expected=$(printf '%s\r\n' '::LOADSEG::(frontend)' '::OPEN::(data\ui\menu.txt)' \
    '::OPEN::(data\ui\font.txt)  // DupSeg hall' '::LOADSEG::(hall)' '::OPEN::(data\rooms\hall.txt)' \
    '::OPEN::(data\textures\stone.txt)  // DupSeg garden' '::OPEN::(data\ui\font.txt)  // DupSeg frontend' \
    '::LOADSEG::(garden)' '::OPEN::(data\rooms\garden.txt)' '::OPEN::(data\textures\grass.txt)' \
    '::OPEN::(data\textures\stone.txt)  // DupSeg hall'; echo .)

# Runs a consumer build on the level: its standard output must be records
# alone, every open timed, and must sort into the expected order.
check_dump() {
    local program=$1 dump=$work/$2.dump status=0
    "$program" "$work/level.zip" "${level[@]}" >"$dump" || fail "$program ended with $?"
    if grep -Evq '^(::LOADSEG::\([a-z]+\)|::OPEN::\([a-z\\.]+\)    // [0-9]+ms)$' "$dump"; then
        fail "$program printed more than load-dump records:
$(cat "$dump")"
    fi
    "$prefix/bin/segsorter" "$dump" "$dump.sorted" >/dev/null || status=$?
    [ "$status" -eq 1 ] || fail "segsorter could not sort what $program printed"
    [ "$(cat "$dump.sorted"; echo .)" = "$expected" ] || fail "$program's dump sorts to
$(cat "$dump.sorted")"
}

step "find_package(segsorter) against $prefix"
cmake -S examples/consumer -B "$work/installed" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/installed" -j2 >/dev/null
ldd "$work/installed/consumer" >"$work/libraries"
if grep -q 'libz\.so' "$work/libraries"; then
    fail "the installed package linked zlib's shared library, not the static one the library was built with"
fi
check_dump "$work/installed/consumer" installed

step "add_subdirectory of the checkout"
mkdir -p "$work/parent"
cat >"$work/parent/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.24)
project(game LANGUAGES CXX)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
add_subdirectory("$source" segsorter)
add_executable(game "$source/examples/consumer/main.cpp")
target_link_libraries(game PRIVATE segsorter::core)
EOF
cmake -S "$work/parent" -B "$work/parent/build" >/dev/null
targets=$(cmake --build "$work/parent/build" --target help)
if grep -Eq 'test_|gendump|zip_bench|_fuzz' <<<"$targets"; then
    fail "tests or benches joined the parent's build"
fi
grep -q -- '-Wall' "$work/parent/build/compile_commands.json" && fail "the project's warning flags joined the parent's build"
cmake --build "$work/parent/build" -j2 --target game >/dev/null
check_dump "$work/parent/build/game" subdirectory

echo "consumer check: passed (find_package and add_subdirectory)"

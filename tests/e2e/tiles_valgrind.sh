#!/usr/bin/env bash
# Every byte of a tile is defined: tiles cut at the right and bottom edges of
# pictures whose sizes are no multiple of anything, made from the picture
# file itself (no cache file yet) and from its cache file, each under
# valgrind, whose first report fails the run. The tiles are also checked to
# come out the same with and without valgrind: a report that changes no
# pixel would still be a fault of ours if the bytes reached the PNG.
make_pictures=$1 cache_tool=$2
source "$(dirname "$0")/common.sh"

command -v valgrind >/dev/null || fail "valgrind is not installed (scripts/setup installs it)"
command -v jpegtran >/dev/null || fail "jpegtran is not installed (scripts/setup installs it)"

docs=$QUILVANE_DOCUMENTS
mkdir -p "$docs"
"$make_pictures" progressive 3799 1999 "$work/wide.jpg" || fail "test picture"
jpegtran -outfile "$docs/sequential.jpg" "$work/wide.jpg" || fail "sequential copy"
"$make_pictures" progressive 1001 701 "$docs/progressive.jpg" || fail "test picture"
"$make_pictures" phone6 901 601 "$docs/turned.jpg" || fail "test picture"

# LEVEL COLUMN ROW: the whole picture's level, and the last column and row of
# a deeper level (upright sizes: 3799 x 1999, 1001 x 701, 901 x 601).
tiles=(
    "sequential.jpg 1 0 0" "sequential.jpg 2 1 0" "sequential.jpg 4 14 7"
    "progressive.jpg 0 0 0" "progressive.jpg 2 3 2"
    "turned.jpg 0 0 0" "turned.jpg 2 3 2"
)

cut_tiles() {
    local stage=$1
    for t in "${tiles[@]}"; do
        read -r name level column row <<<"$t"
        local out=$work/$stage-${name%.jpg}-$level-$column-$row.png
        local rc=0
        valgrind -q --error-exitcode=99 --track-origins=yes \
            "$cache_tool" tile "$docs/$name" "$level" "$column" "$row" "$out" "$docs" >"$work/valgrind.txt" 2>&1 || rc=$?
        if ((rc == 99)); then
            cat "$work/valgrind.txt" >&2
            fail "$stage: valgrind reported tile $t"
        fi
        ((rc == 0)) || { cat "$work/valgrind.txt" >&2; fail "$stage: tile $t cannot be made"; }
        "$cache_tool" tile "$docs/$name" "$level" "$column" "$row" "$out.plain.png" "$docs" \
            || fail "$stage: tile $t without valgrind"
        cmp -s "$out" "$out.plain.png" || fail "$stage: tile $t differs under valgrind"
    done
}

cut_tiles from-file
"$cache_tool" build "$docs" >/dev/null || fail "build"
cut_tiles from-cache
echo "PASS: tiles of three pictures, from their files and their cache files, clean under valgrind"

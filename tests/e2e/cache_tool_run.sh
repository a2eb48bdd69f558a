#!/usr/bin/env bash
# quilvane-cache over a made library, as a user runs it:
#   1. build counts every picture it saw exactly once (built, already
#      valid, unreadable, not written), prints paths the way the system
#      writes them ("/", the name's own bytes), and reaches pictures and
#      folders whose names are not UTF-8;
#   2. a second build finds them valid, and search counts what the
#      catalog built, not what it happened to announce;
#   3. scratch files of a build that no longer runs go at the start; those
#      of a running one stay;
#   4. a build ended by SIGTERM or SIGINT mid-way leaves no scratch file,
#      and the next build finishes what it left;
#   5. cache directories that are links keep what they point at, and
#      damage inside a cache file is found and mended.
make_pictures=$1 cache_tool=$2
source "$(dirname "$0")/common.sh"

docs=$QUILVANE_DOCUMENTS
# The pictures folder's caches live in the user's cache directory.
cache=$XDG_CACHE_HOME/quilvane/documents
odd_folder="$docs/Ferien $(printf '\xff')"
odd_picture="$odd_folder/$(printf 'Strand \xe9').jpg"
mkdir -p "$docs/Phone" "$odd_folder"
"$make_pictures" progressive 640 480 "$docs/Phone/a.jpg" || fail "test picture"
"$make_pictures" phone6 480 640 "$docs/Phone/b.jpeg" || fail "test picture"
"$make_pictures" cmyk 320 240 "$docs/Phone/c.JPG" || fail "test picture"
"$make_pictures" cut 800 600 "$docs/Phone/d_cut.jpg" || fail "test picture"
"$make_pictures" phone3 500 400 "$odd_picture" || fail "test picture"
"$make_pictures" progressive 300 200 "$odd_folder/$(printf 'caf\xc3\xa9').jpg" || fail "test picture"
pictures=6

problems=()
expect() {
    local what=$1
    shift
    "$@" || problems+=("$what")
}

# counts OUTPUT: "BUILT VALID UNREADABLE NOT_WRITTEN SEEN" from the summary line.
counts() {
    sed -n -E 's/.*built ([0-9]+), already valid ([0-9]+), unreadable ([0-9]+), not written ([0-9]+) \(of ([0-9]+) pictures\)$/\1 \2 \3 \4 \5/p' <<< "$1"
}
# adds_up COUNTS: every picture seen is in exactly one group.
adds_up() {
    local b v u n seen
    read -r b v u n seen <<< "$1"
    [[ -n $seen ]] && ((b + v + u + n == seen))
}
scratch_files() {
    find "$cache" -maxdepth 1 -name '~build-*' 2> /dev/null | sort
}

# 1. The first build, three at once.
out=$(timeout 120 "$cache_tool" build -j 3 "$docs") || fail "build: exit code $?"
expect "build -j 3 did not say so: $out" grep -q " 3 at once" <<< "$out"
got=$(counts "$out")
expect "first build counts: $got (output: $out)" test "$got" == "5 0 1 0 $pictures"
expect "first build counts do not add up: $got" adds_up "$got"
expect "the cut picture is not named by its path: $out" grep -qxF "  $docs/Phone/d_cut.jpg: the picture is cut short or damaged" <<< "$out"
expect "a path was printed with backslashes: $(grep -F '\' <<< "$out")" test -z "$(grep -F '\' <<< "$out")"
expect "a cache file is missing" test "$(find "$cache" -maxdepth 1 -type f -size +0 | wc -l)" -ge 5
expect "scratch files left by a finished build: $(scratch_files)" test -z "$(scratch_files)"

# The picture in the Latin-1 folder under its Latin-1 name was built, and
# check finds its cache file by the same bytes.
checked=$(timeout 60 "$cache_tool" check "$odd_picture") || problems+=("check of the Latin-1 picture: exit code $?")
expect "check: $checked" grep -q '^valid, ' <<< "$checked"
expect "check printed the cache file with backslashes, or not in the cache home: $checked" \
    grep -qF "cache file: $cache/" <<< "$checked"
expect "check: the cache file it names does not exist" test -f "$(sed -n 's/^cache file: //p' <<< "$checked")"

# 2. Built already: nothing is built again, and every picture is counted.
out=$(timeout 120 "$cache_tool" build -j1 "$docs/" "$docs") || fail "second build: exit code $?"
got=$(counts "$out")
expect "second build counts (a root named twice counts once): $got" test "$got" == "0 5 1 0 $pictures"

# Caches in the old place, the pictures folder itself, are moved out before
# the build, and used there: nothing is built again.
mv "$cache" "$docs/!quilvanecache"
out=$(timeout 120 "$cache_tool" build "$docs") || fail "build over the old cache directory: exit code $?"
expect "the move of the old cache directory is not reported: $out" grep -q "^old cache directory moved: " <<< "$out"
got=$(counts "$out")
expect "build after the move counts: $got" test "$got" == "0 5 1 0 $pictures"
expect "the old cache directory is still in the pictures folder" test ! -e "$docs/!quilvanecache"

# --help says where the cache files go, on standard output.
help=$("$cache_tool" --help 2> /dev/null) || problems+=("--help: exit code $?")
expect "--help does not say where the pictures folder's caches go: $help" grep -qF "quilvane/documents" <<< "$help"

# A count of builds that is none or no number is refused before any work.
for bad in 0 x 33; do
    status=0
    timeout 60 "$cache_tool" build -j "$bad" "$docs" > /dev/null 2>&1 || status=$?
    expect "build -j $bad: exit code $status, not 2" test "$status" -eq 2
done

# The catalog's own search and building, from nothing: all of it built by
# the worker and counted, though its screen hears of the last build only.
rm -rf "$cache"
out=$(timeout 120 "$cache_tool" search) || fail "search: exit code $?"
got=$(counts "$out")
expect "search counts: $got (output: $out)" test "$got" == "5 0 1 0 $pictures"
expect "search printed an album path with backslashes: $out" test -z "$(grep -F '\' <<< "$out")"
expect "search does not list the Latin-1 album by its path" grep -qF "  $odd_folder/" <<< "$out"
out=$(timeout 120 "$cache_tool" search) || fail "second search: exit code $?"
got=$(counts "$out")
expect "second search counts: $got" test "$got" == "0 5 1 0 $pictures"

# 3. Scratch files: one of a process that has ended, one of this shell.
sh -c 'exit 0' &
ended=$!
wait $ended
touch "$cache/~build-$ended-0.cache" "$cache/~build-$ended-3.full" "$cache/~build-$$-0.cache"
out=$(timeout 120 "$cache_tool" build "$docs") || fail "build with stale scratch files: exit code $?"
expect "stale scratch files not removed: $(scratch_files)" test ! -e "$cache/~build-$ended-0.cache" -a ! -e "$cache/~build-$ended-3.full"
expect "the scratch file of a running process was removed" test -e "$cache/~build-$$-0.cache"
expect "the removal is not reported: $out" grep -q "removed 2 scratch files" <<< "$out"
rm -f "$cache/~build-$$-0.cache"

# 4. Large pictures, so that a build is caught under way.
big=$work/big
# A root that is neither the pictures folder nor a card: a directory of its
# own, named after its path with "!" for "/".
cache=$XDG_CACHE_HOME/quilvane/folders/${big//\//!}
mkdir -p "$big"
for i in 1 2 3 4; do
    "$make_pictures" progressive 5000 4000 "$big/$i.jpg" || fail "large test picture"
done

# interrupt SIGNAL: starts a build of $big, sends SIGNAL once it writes a
# scratch file, and checks how it ended and that nothing of it is left.
interrupt() {
    local signal=$1 number=$2 status=0
    # A background command starts with SIGINT ignored; the build must
    # meet it as a terminal's interrupt would reach it.
    env --default-signal=INT timeout 120 "$cache_tool" build "$big" > "$work/interrupted.txt" &
    local build=$!
    local seen=
    for _ in $(seq 600); do
        if [[ -n $(scratch_files) ]]; then
            seen=yes
            break
        fi
        sleep 0.05
    done
    [[ -n $seen ]] || problems+=("$signal: the build never made a scratch file")
    kill -s "$signal" $build
    wait $build || status=$?
    expect "$signal: the build ended with $status, not by the signal" test $status -eq $((128 + number))
    expect "$signal: scratch files left: $(scratch_files)" test -z "$(scratch_files)"
}
interrupt TERM 15
interrupt INT 2
built_before=$(find "$cache" -maxdepth 1 -type f -size +0 | wc -l)
expect "the interrupted builds finished everything ($built_before files)" test "$built_before" -lt 4

out=$(timeout 120 "$cache_tool" build "$big") || fail "build after the interruptions: exit code $?"
got=$(counts "$out")
expect "build after the interruptions: $got" test "$got" == "$((4 - built_before)) $built_before 0 0 4"
expect "scratch files after the last build: $(scratch_files)" test -z "$(scratch_files)"

expect "cache files were written into the pictures folder: $(find "$docs" -name '!quilvanecache')" \
    test -z "$(find "$docs" -name '!quilvanecache')"

# 5. A card whose cache directory is a link to a folder of someone's files,
# and the pictures folder's old one a relative link to the same: the build
# and the search keep caches elsewhere and every one of those files. One
# pixel wide or high, pictures are cached like any other. A body garbled
# under a sound header is found by the checksum and built again.
card=$QUILVANE_CARDS
others=$work/Other
mkdir -p "$others" "$card/Trip"
for f in notes.txt thesis.odt photo.jpg 10-20240101000000.000000000; do echo "$f" > "$others/$f"; done
ln -s "$others" "$card/!quilvanecache"
ln -s ../Other "$docs/!quilvanecache"
"$make_pictures" phone1 900 700 "$card/Trip/good.jpg" || fail "test picture"
for size in "1 1" "1 300" "300 1" "2 600"; do
    "$make_pictures" phone1 $size "$card/Trip/thin ${size/ /x}.jpg" || fail "test picture $size"
done
out=$(timeout 120 "$cache_tool" build "$card") || fail "build of the linked card: exit code $?"
got=$(counts "$out")
expect "build of the linked card: $got (output: $out)" test "$got" == "5 0 0 0 5"
timeout 120 "$cache_tool" search > /dev/null || fail "search with linked cache directories: exit code $?"
expect "files of the linked folder lost: $(ls "$others")" \
    test "$(ls "$others" | tr '\n' ' ')" == "10-20240101000000.000000000 notes.txt photo.jpg thesis.odt "
expect "a link was moved or replaced" test -L "$card/!quilvanecache" -a -L "$docs/!quilvanecache"
card_caches=$XDG_CACHE_HOME/quilvane/cards/card
largest=$(ls -S "$card_caches" | head -n 1)
printf '\xff%.0s' {1..64} | dd of="$card_caches/$largest" bs=1 seek=3000 conv=notrunc status=none
out=$(timeout 60 "$cache_tool" check "$card/Trip/good.jpg" "$card") && problems+=("check found no damage: $out")
expect "check does not name the damage: $out" grep -q "does not match its checksum" <<< "$out"
got=$(counts "$(timeout 120 "$cache_tool" build "$card")")
expect "build after the damage: $got" test "$got" == "1 4 0 0 5"
expect "the damaged cache was not built again" timeout 60 "$cache_tool" check "$card/Trip/good.jpg" "$card"

if ((${#problems[@]})); then
    printf 'FAIL: %s\n' "${problems[@]}" >&2
    exit 1
fi
echo "e2e_cache_tool: ok"

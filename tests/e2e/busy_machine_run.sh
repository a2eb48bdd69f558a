#!/usr/bin/env bash
# One script, run twice over the same library from nothing: at normal
# priority, then under nice -n 19 while two processes keep both processors
# busy. Under a script the program's clock is virtual and stands still
# while the script waits for other threads' work, so every screenshot of
# the two runs is the same to the pixel (the frame-time overlay left out):
# the album list after its first search, an album, the viewer while it
# opens, half way through a double tap's zoom, during a swipe, and after
# its controls have hidden themselves.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless

library=$work/library
mkdir -p "$library/Trip"
"$probe" jpeg "$library/Trip/a.jpg" 2400 1800 1 || fail "test picture"
"$probe" jpeg "$library/Trip/b.jpg" 1600 1200 2 || fail "test picture"
"$probe" jpeg "$library/Trip/c.jpg" 1200 1600 3 || fail "test picture"

# run NAME [nice]: the script from a fresh copy of the library, with its own
# caches and album list, screenshots in $work/NAME/.
run() {
    local out=$work/$1
    mkdir -p "$out"
    cp -a "$library" "$out/docs"
    cat > "$out/script.txt" <<SCRIPT
wait_for 30000 started
wait_for 120000 cache_complete
wait_idle 120000
screenshot $out/albums.png
tap 120 81
wait 20
wait_idle 120000
screenshot $out/album.png
tap 33 82
wait 4
wait_idle 120000
screenshot $out/opening.png
tap 160 160
wait 3
tap 160 160
wait 15
wait_idle 120000
screenshot $out/zooming.png
down 220 160
move 180 160
move 140 160
move 100 160
up 60 160
wait 5
wait_idle 120000
screenshot $out/swiping.png
wait 400
wait_idle 120000
screenshot $out/rested.png
SCRIPT
    (
        export QUILVANE_DOCUMENTS=$out/docs XDG_CACHE_HOME=$out/cache XDG_DATA_HOME=$out/data \
            QUILVANE_FOLDERS_INI=$out/folders.ini QUILVANE_SCRIPT=$out/script.txt
        rm -f "$work/quilvane.txt"
        ${2:+nice -n 19} timeout 240 "$quilvane" 2> "$out/stderr.txt" || fail "$1: exit code $?"
    )
    [[ ! -s $out/stderr.txt ]] || fail "$1: $(cat "$out/stderr.txt")"
}

run quiet
busy=()
for _ in 1 2; do
    sh -c 'while :; do :; done' &
    busy+=($!)
done
trap 'kill "${busy[@]}" 2> /dev/null || true; rm -rf "$work"' EXIT
run busy nice
kill "${busy[@]}"

if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/quiet/*.png "$QUILVANE_E2E_KEEP"/
fi
for shot in albums album opening zooming swiping rested; do
    "$probe" identical "$work/quiet/$shot.png" "$work/busy/$shot.png" 0 0 160 24 \
        || fail "$shot.png differs between a quiet and a busy machine"
done
# Not a run of empty screens: the zoom and the swipe changed the picture.
"$probe" compare "$work/quiet/zooming.png" "$work/quiet/opening.png" 30 0 0 160 24 2> /dev/null \
    && fail "the double tap did not zoom"
"$probe" compare "$work/quiet/swiping.png" "$work/quiet/zooming.png" 10 0 0 160 24 2> /dev/null \
    && fail "the swipe did not move"
echo "e2e_busy_machine: ok"

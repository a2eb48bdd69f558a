#!/usr/bin/env bash
# The viewer, driven headless on a 240 x 320 screen over a real pictures
# tree: "Gallery" (three large pictures and a broken one) and "Solo" (one
# picture). Two runs of the program:
#   1. after a search: the first picture (no left neighbour), a double tap
#      zooming in around the tapped point with "btnMinus" coming up, the
#      minus button back to the whole picture, a swipe to the second
#      picture ("2 of 4"), landscape (its button back only once the worker
#      has drained), the last picture (the broken one: bad.bmp, no right
#      neighbour), and the one-picture album;
#   2. a picture added since: shown at once from its JPEG file, then served
#      from its cache file once the catalog has built it.
# Screenshots are compared with tests/e2e/reference/viewer_*.png;
# QUILVANE_E2E_UPDATE=1 writes the references instead.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless

mkdir -p "$QUILVANE_DOCUMENTS/Gallery" "$QUILVANE_DOCUMENTS/Solo"
gallery=$QUILVANE_DOCUMENTS/Gallery
"$probe" jpeg "$gallery/big1.jpg" 2400 1800 1 || fail "test picture"
"$probe" jpeg "$gallery/big2.jpg" 1600 1200 2 || fail "test picture"
"$probe" jpeg "$gallery/big3.jpg" 1200 1600 3 || fail "test picture"
broken_jpeg "$gallery/broken.jpg"
"$probe" jpeg "$QUILVANE_DOCUMENTS/Solo/one.jpg" 800 600 9 || fail "test picture"

# A quick swipe from right to left across the middle of the screen.
swipe_left() {
    echo "down 220 160"
    for x in 190 150 110 70 30; do
        echo "wait_ms 10"
        echo "move $x 160"
    done
    echo "up 10 160"
}

# Album rows at y 81 and 137; cells at x 33, 91, 149, 207 on rows from y 82;
# the viewer's back (30, 30), landscape (30, 290), minus (162, 290) and
# plus (210, 290) buttons.
{
    cat <<SCRIPT
wait_for 30000 started
wait_for 60000 cache_complete
wait 5
tap 120 81
wait 20
tap 33 82
wait 60
wait_idle 60000
screenshot $work/first.png
tap 160 160
wait 3
tap 160 160
wait 90
wait_idle 60000
screenshot $work/zoomed.png
tap 162 290
wait 90
wait_idle 60000
screenshot $work/unzoomed.png
SCRIPT
    swipe_left
    cat <<SCRIPT
wait_log 30000 Set Right clear end
wait 90
wait_idle 60000
screenshot $work/second.png
tap 30 290
wait_log 30000 Landscape disabled
wait_idle 30000
wait_log 30000 Landscape enabled
wait 30
wait_idle 60000
screenshot $work/landscape.png
tap 30 290
wait_idle 30000
wait_log 30000 Landscape enabled
wait 10
tap 30 30
wait 20
tap 207 82
wait 60
wait_idle 60000
screenshot $work/last.png
tap 30 30
wait 20
tap 30 30
wait 20
tap 120 137
wait 20
tap 33 82
wait 60
wait_idle 60000
screenshot $work/solo.png
SCRIPT
} > "$work/first.txt"
run_script first
log=$(cat "$work/first.log")
[[ $(grep -c "Landscape disabled" <<< "$log") == 2 ]] || fail "landscape button not pressed twice"
# The button comes back only after the worker drained: never while it was
# making the turned tiles.
awk '/Landscape disabled/ { off = 1 } /run create_tile start/ && off { busy = 1 } /Landscape enabled/ && off { if (!busy) bad = 1; off = 0; busy = 0 } END { exit bad }' \
    <<< "$log" || fail "landscape enabled before the worker made a tile"
same_as_reference viewer first
same_as_reference viewer zoomed
same_as_reference viewer unzoomed
same_as_reference viewer second
same_as_reference viewer landscape
same_as_reference viewer last
same_as_reference viewer solo
# The zoom in and out: the picture changed, then came back.
"$probe" compare "$work/zoomed.png" "$work/first.png" 30 0 0 160 24 2> /dev/null && fail "the double tap did not zoom"
"$probe" compare "$work/unzoomed.png" "$work/first.png" 1.5 0 0 160 24 || fail "minus did not return to the whole picture"

# Large enough that its cache is still being built when the viewer opens
# it: the album's thumbnail loader queues it a few frames after opening.
# Nothing builds it before: no update at start-up finds it.
search_button_only
"$probe" jpeg "$gallery/new.jpg" 6000 4500 5 || fail "test picture"
cat > "$work/uncached.txt" <<SCRIPT
wait_for 30000 started
wait 5
tap 120 81
wait 8
tap 33 140
wait_idle 60000
wait_log 30000 on_document_refresh resize end
wait 60
wait_idle 60000
screenshot $work/uncached.png
SCRIPT
run_script uncached
log=$(cat "$work/uncached.log")
grep -q "reset PieceCrt1" <<< "$log" || fail "the new picture was not first shown from its JPEG file"
grep -q "on_document_refresh begin" <<< "$log" || fail "the new picture was not reloaded from its cache"
same_as_reference viewer uncached

echo "e2e_viewer: ok"

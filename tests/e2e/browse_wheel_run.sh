#!/usr/bin/env bash
# The browsing screens driven by the mouse wheel and double clicks, headless
# on a small screen (240 x 320, four thumbnails to a row), with taps only
# where a button or a row must be pressed. "Aardvark" with 24 pictures,
# more than a screen holds, and eleven small albums after it. In one run:
# the first start's own search; the wheel turned towards the user scrolls
# the album list 3 rows a notch, whole or in parts, so the top row is then
# the seventh album, and turned away scrolls it back to the top, where a
# tap opens Aardvark; the
# wheel scrolls its thumbnails down to the last rows, and a tap opens the
# picture in the first cell there; a double click in the
# viewer goes to full size around the pointer and a second back to the whole
# picture; the wheel zooms in around the pointer, and back out, in proportion
# to its notches. Screenshots are compared with
# tests/e2e/reference/browse_wheel_*.png (QUILVANE_E2E_UPDATE=1 writes them
# instead).
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless

for i in $(seq 1 11); do
    album=$QUILVANE_DOCUMENTS/Album$(printf %02d "$i")
    mkdir -p "$album"
    "$probe" jpeg "$album/a$i.jpg" 160 120 "$i" || fail "test picture"
done
mkdir -p "$QUILVANE_DOCUMENTS/Aardvark"
for i in $(seq 1 24); do
    "$probe" jpeg "$QUILVANE_DOCUMENTS/Aardvark/z$(printf %02d "$i").jpg" 800 600 $((i + 20)) || fail "test picture"
done

# The first start searches by itself; the list starts at 53 with rows 56 high,
# the top row's middle at y 81; thumbnail cells 58 apart from (33, 82).
cat > "$work/wheel.txt" <<SCRIPT
wait_for 30000 started
wait_for 60000 search_complete
wait_for 60000 cache_complete
wait 10
wait_idle 60000
screenshot $work/albums.png
wheel 120 200 -1
wait_log 30000 WM_MOUSEWHEEL 120 200 notches=-1
wheel 120 200 -0.5
wheel 120 200 -0.5
wait 60
wait_idle 60000
screenshot $work/albums_scrolled.png
wheel 120 200 2
wait 60
wait_idle 60000
screenshot $work/albums_back.png
tap 120 81
wait_log 30000 folder form:
wait 40
wait_idle 60000
screenshot $work/album.png
wheel 120 200 -2
wait 60
wait_idle 60000
screenshot $work/thumbnails_scrolled.png
tap 33 256
wait_for 30000 first_full_frame
wait 60
wait_idle 60000
screenshot $work/picture.png
dblclick 60 100
wait_log 30000 WM_LBUTTONDBLCLK 60 100
wait 90
wait_idle 60000
screenshot $work/full_size.png
dblclick 60 100
wait 90
wait_idle 60000
screenshot $work/whole_again.png
wheel 60 100 2
wait 90
wait_idle 60000
screenshot $work/wheel_zoomed.png
wheel 60 100 -1
wheel 60 100 -1
wait 90
wait_idle 60000
screenshot $work/wheel_unzoomed.png
SCRIPT
run_script wheel
log=$(cat "$work/wheel.log")
albums=$(iconv -f UTF-16 -t UTF-8 "$QUILVANE_FOLDERS_INI" 2> /dev/null || cat "$QUILVANE_FOLDERS_INI")
[[ $(grep -o "Album[0-9]*\|Aardvark" <<< "$albums" | head -1) == Aardvark ]] || fail "Aardvark is not the first album"
grep -q 'folder form: .*\\Aardvark\\ 24 pictures' <<< "$log" || fail "the top row did not open Aardvark"
# Six rows of four cells scroll to the last four rows: the first cell at
# y 256 is the last row's, the 21st picture.
grep -q 'folder form: open .*\\Aardvark\\z21.jpg' <<< "$log" || fail "the tap after the wheel did not open z21.jpg"
same_as_reference browse_wheel albums
# The wheel's rows come to rest within a pixel of one place, which moves
# a few percent of the pixels; a row too many or too few moves far more.
if [[ -n ${QUILVANE_E2E_UPDATE:-} ]]; then
    same_as_reference browse_wheel albums_scrolled
else
    "$probe" compare "$work/albums_scrolled.png" "$e2e_references/browse_wheel_albums_scrolled.png" 5 0 0 160 24 ||
        fail "albums_scrolled.png differs from its reference"
fi
same_as_reference browse_wheel album
same_as_reference browse_wheel thumbnails_scrolled
same_as_reference browse_wheel picture
same_as_reference browse_wheel full_size
same_as_reference browse_wheel wheel_zoomed
# Each turn of the wheel and each double click changed the screen; the
# second double click and the wheel turned back both return to the whole
# picture.
for pair in "albums albums_scrolled" "album thumbnails_scrolled" "picture full_size" "picture wheel_zoomed" \
    "full_size wheel_zoomed" "albums_back albums_scrolled"; do
    set -- $pair
    "$probe" compare "$work/$1.png" "$work/$2.png" 5 0 0 160 24 2> /dev/null && fail "$2.png looks like $1.png"
done
# Back at the top the rows may rest a pixel off where the search left them.
"$probe" compare "$work/albums_back.png" "$work/albums.png" 5 0 0 160 24 || fail "the wheel turned away did not scroll back to the top"
"$probe" compare "$work/whole_again.png" "$work/picture.png" 1.5 0 0 160 24 || fail "the second double click did not go back to the whole picture"
# By then the viewer's buttons may have hidden themselves: the bars are left out.
"$probe" compare "$work/wheel_unzoomed.png" "$work/picture.png" 1.5 0 0 240 60 0 260 240 60 || fail "the wheel turned back did not go back to the whole picture"

if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_browse_wheel: ok"

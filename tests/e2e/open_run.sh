#!/usr/bin/env bash
# Pictures and folders named on the command line, headless on a 240 x 320
# screen, over a pictures folder with the album "Trip" (a1, a2, a3; a2 has a
# flat teal middle) and a folder outside it whose name holds spaces, quotes
# and a byte that is no UTF-8 (b1, b2, b3; b2 has a flat brown middle):
#   1. a first start with a picture, named relative to its folder, shows it
#      in the viewer ("2 of 3" of Trip); Back shows Trip's thumbnails, and
#      Back again the album list;
#   2. a running program started without paths is handed a picture of the
#      outside folder by a second start in another folder, by a relative
#      path: it shows that picture within its folder's album, the second
#      start ending at once; a third start hands three pictures over, which
#      make one album in the order given;
#   3. nothing is written into the outside folder.
# Screenshots are checked by the colours of the pictures' middles.
quilvane=$1 probe=$2 make=$3
source "$(dirname "$0")/common.sh"
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless

teal="40 170 140"
brown="180 94 31"
trip=$QUILVANE_DOCUMENTS/Trip
outside=$work/"out side \"q\" it's "$'\xff'
mkdir -p "$trip" "$outside" "$work/elsewhere" "$work/second"
"$probe" jpeg "$trip/a1.jpg" 400 300 1 || fail "test picture"
"$make" progressive 400 300 "$trip/a2.jpg" || fail "test picture"
"$probe" jpeg "$trip/a3.jpg" 400 300 3 || fail "test picture"
# Made where the helpers can name the files, then moved in.
"$probe" jpeg "$work/b1.jpg" 400 300 4 || fail "test picture"
"$make" cmyk 400 300 "$work/b2.jpg" || fail "test picture"
"$probe" jpeg "$work/b3.jpg" 400 300 6 || fail "test picture"
mv "$work"/b[123].jpg "$outside/"

# The log as text; a name that is no UTF-8 may reach it from elsewhere, so
# what cannot be read is left out.
log_now() { iconv -c -f UTF-16 -t UTF-8 "$work/quilvane.txt" 2> /dev/null || true; }
has() { grep -qF -- "$1" <<< "$log"; }
wait_for_log() {
    for _ in $(seq 300); do
        log_now | grep -qF -- "$1" && return 0
        sleep 0.1
    done
    fail "log never showed: $1"
}
# middle_is SHOT COLOUR: the middle of the screen shows the colour.
middle_is() { "$probe" share "$work/$1.png" 100 140 40 40 $2 90 100 || fail "$1.png: the middle is not $2"; }
# cell_is SHOT COLUMN COLOUR: the middle of the first row's thumbnail in the
# column (cells 58 pixels wide from x 4, the row's middle at y 81) shows
# the colour.
cell_is() { "$probe" share "$work/$1.png" $((4 + 58 * $2 + 24)) 76 10 10 $3 90 100 || fail "$1.png: cell $2 is not $3"; }

# The album list and Trip's caches, made by the first search, so that the
# thumbnails below are there as soon as their screen shows.
echo "wait_for 60000 cache_complete" > "$work/search.txt"
run_script search

# 1. A first start with a picture.
cat > "$work/first.txt" <<SCRIPT
wait_for 30000 started
wait_for 30000 first_full_frame
wait 10
screenshot $work/first.png
key Backspace
wait 40
screenshot $work/first_thumbs.png
key Backspace
wait 40
screenshot $work/first_list.png
SCRIPT
(cd "$trip" && QUILVANE_SCRIPT=$work/first.txt timeout 120 "$quilvane" a2.jpg) || fail "first start: exit $?"
log=$(log_now)
has 'album form: open ['"$trip"'/a2.jpg]' || fail "the picture was not asked for by its full path"
has 'folder form: %my_documents%\Trip\ 3 pictures' || fail "Trip not opened as an album of the pictures folder"
has 'folder form: open %my_documents%\Trip\a2.jpg' || fail "the viewer did not open on a2"
has 'image form: back' || fail "Back did not leave the viewer"
middle_is first "$teal"
cell_is first_thumbs 1 "$teal"
# The album list: its title bar and no thumbnails' grid.
"$probe" share "$work/first_list.png" 80 140 80 40 $teal 0 5 || fail "first_list.png still shows a2"

# 2. Handed over to a running program.
rm -f "$work/quilvane.txt"
cat > "$work/running.txt" <<SCRIPT
wait_for 30000 started
wait_log 30000 album form: command line, 1 paths
wait_log 30000 Time for create cache end
wait_log 30000 Time for create cache end
wait_log 30000 Time for create cache end
wait 90
screenshot $work/handed.png
wait_log 30000 album form: command line, 3 paths
wait_for 30000 first_full_frame
wait 10
screenshot $work/several.png
key Backspace
wait 60
screenshot $work/several_thumbs.png
SCRIPT
QUILVANE_SCRIPT=$work/running.txt timeout 120 "$quilvane" &
running=$!
wait_for_log "WinMain 14"
name=$(basename "$outside")
(cd "$work/elsewhere" && TMPDIR=$work/second timeout 20 "$quilvane" "../$name/b2.jpg") || fail "second start: exit $?"
wait_for_log "album form: command line, 1 paths"
# The outside folder's caches, built meanwhile in the background, the
# picture shown from its file until its own is there.
for _ in $(seq 300); do
    (( $(log_now | grep -c "Time for create cache end") >= 3 )) && break
    sleep 0.1
done
wait_for_log "Script: screenshot $work/handed.png"
(cd "$outside" && TMPDIR=$work/second timeout 20 "$quilvane" b2.jpg ../docs/Trip/a2.jpg ./b1.jpg) ||
    fail "third start: exit $?"
wait $running || fail "running program: exit $?"
log=$(log_now)
shown=$(LC_ALL=C sed 's/\xff/\\xFF/' <<< "$outside")
has "album form: open [$shown/b2.jpg]" || fail "the relative path was not handed over in full"
has 'folder form: '"$(sed 's#/#\\#g' <<< "$shown")"'\ 3 pictures' || fail "the outside folder did not open as an album"
has "reset PieceCrt1" || fail "the handed picture was not shown from its file while its cache was built"
[[ $(grep -c "^[0-9]* GameBase 0$" <<< "$log") == 1 ]] || fail "a second start made a window"
has "folder form: b2.jpg, a2.jpg, b1.jpg 3 pictures" || fail "three pictures did not make one album"
middle_is handed "$brown"
middle_is several "$brown"
cell_is several_thumbs 0 "$brown"
cell_is several_thumbs 1 "$teal"

# 3. The outside folder holds its pictures only.
[[ $(ls -A "$outside" | tr '\n' ' ') == "b1.jpg b2.jpg b3.jpg " ]] || fail "written into the outside folder: $(ls -A "$outside")"
echo "e2e_open: ok"

#!/usr/bin/env bash
# The browsing screens driven by the keys alone, headless on a small screen
# (240 x 320, four thumbnails to a row): the first key finds the menu
# button, Right the search button, Enter searches; Down reaches the albums
# and moves to the second, Enter opens it; Right twice and Enter open its
# third picture; Right goes on to the fourth, + zooms it in and Left pans
# it; Backspace leaves the viewer with the focus on the picture last shown
# and leaves the thumbnails; F1 opens the main menu, where Right and Enter
# open the language menu and Down and Enter choose German; the menu comes
# back in German, and its exit button, which the arrows reach, Enter
# presses. The focus frame, the zoom and the language are checked on
# screenshots against tests/e2e/reference/browse_keys_*.png
# (QUILVANE_E2E_UPDATE=1 writes them instead).
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
search_button_only
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless

for album in Alpha Bravo Charlie; do
    mkdir -p "$QUILVANE_DOCUMENTS/$album"
done
"$probe" jpeg "$QUILVANE_DOCUMENTS/Alpha/a1.jpg" 320 240 1 || fail "test picture"
for i in 1 2 3 4 5; do
    "$probe" jpeg "$QUILVANE_DOCUMENTS/Bravo/b$i.jpg" 320 240 $((i + 1)) || fail "test picture"
done
"$probe" jpeg "$QUILVANE_DOCUMENTS/Charlie/c1.jpg" 320 240 9 || fail "test picture"
# An album list that holds no album yet, as after a search that found
# nothing: the search is this test's to start, by its keys.
: > "$QUILVANE_FOLDERS_INI"

cat > "$work/keys.txt" <<SCRIPT
wait_for 30000 started
wait 5
key Right
key Right
wait 3
wait_idle 60000
screenshot $work/search_focused.png
key Enter
wait_for 60000 search_complete
wait_for 60000 cache_complete
wait 10
key Down
key Down
wait 10
wait_idle 60000
screenshot $work/second_album.png
key Enter
wait 40
key Right
key Right
wait 10
wait_idle 60000
screenshot $work/third_thumbnail.png
key Enter
wait_for 30000 first_full_frame
wait 10
key Right
wait_log 30000 Set Right clear end
wait 40
wait_idle 60000
screenshot $work/next_picture.png
key Plus
wait 40
wait_idle 60000
screenshot $work/zoomed.png
key Left
wait 40
wait_idle 60000
screenshot $work/panned.png
key Backspace
wait 30
wait_idle 60000
screenshot $work/back_from_viewer.png
key Backspace
wait 30
wait_idle 60000
screenshot $work/back_to_albums.png
key SOFT_LEFT
wait 30
wait_idle 60000
screenshot $work/main_menu.png
key Right
key Enter
wait 30
wait_idle 60000
screenshot $work/language_menu.png
key Down
key Enter
wait_log 30000 PropertiesImpl::send_reload_skin
wait 30
wait_idle 60000
screenshot $work/german_menu.png
key Down
key Down
key Right
wait 3
wait_idle 60000
screenshot $work/exit_focused.png
key Enter
wait 30
SCRIPT
run_script keys
log=$(cat "$work/keys.log")
grep -q "album form: click btnSearch" <<< "$log" || fail "Enter on the search button did not search"
albums=$(iconv -f UTF-16 -t UTF-8 "$QUILVANE_FOLDERS_INI" 2> /dev/null || cat "$QUILVANE_FOLDERS_INI")
second=$(grep -o "Alpha\|Bravo\|Charlie" <<< "$albums" | sed -n 2p)
[[ -n $second ]] || fail "folders.ini has no second album"
grep -q "folder form: .*$second.* pictures" <<< "$log" || fail "Enter did not open the second album, $second"
opened=$(grep -o "folder form: open [^ ]*" <<< "$log" | head -1)
third=$(ls "$QUILVANE_DOCUMENTS/$second" | sort | sed -n 3p)
[[ -n $third && $opened == *"$third" ]] || fail "the third thumbnail was not opened: $opened"
grep -q "image form: back" <<< "$log" || fail "Backspace did not leave the viewer"
grep -q "menu form: click btnExit" <<< "$log" || fail "the exit button was not pressed"
same_as_reference browse_keys search_focused
same_as_reference browse_keys second_album
same_as_reference browse_keys third_thumbnail
same_as_reference browse_keys next_picture
same_as_reference browse_keys zoomed
same_as_reference browse_keys panned
same_as_reference browse_keys back_from_viewer
same_as_reference browse_keys main_menu
same_as_reference browse_keys language_menu
same_as_reference browse_keys german_menu
same_as_reference browse_keys exit_focused
grep -q "language Language#german" <<< "$log" || fail "the keys did not choose German"
# + zoomed in, Left panned: each changed the picture.
"$probe" compare "$work/zoomed.png" "$work/next_picture.png" 5 0 0 160 24 2> /dev/null && fail "+ did not zoom in"
"$probe" compare "$work/panned.png" "$work/zoomed.png" 5 0 0 160 24 2> /dev/null && fail "Left did not pan"
# Back on the album list the focus is still on the second album.
"$probe" compare "$work/back_to_albums.png" "$work/second_album.png" 0.5 0 0 160 24 || fail "the album list lost its place"

if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_browse_keys: ok"

#!/usr/bin/env bash
# The browsing screens, driven headless on a small screen (240 x 320, four
# thumbnails to a row) over a real pictures tree: a card with the album
# "Beach" and a documents folder with "Trip" (12 pictures and a broken
# one). Four runs of the program:
#   1. a start with an album list that holds no album yet: the warning; a search keeps its button
#      disabled until the search is over, then shows the albums, cards
#      first, and writes folders.ini; a second search, with nothing left
#      to build, leaves the button enabled again; the exit menu's "Cancel"
#      changes nothing;
#   2. second start: the albums at once, without a search; a picture added
#      to Beach is built while its album is shown and replaces its
#      placeholder; Trip shows 4 x 4 cells with "bad" for the broken one;
#      "ReallyExit" ends the program with exit code 0;
#   3. the language menu: German chosen, every text redrawn, the choice
#      kept in the registry;
#   4. the next start speaks German at once; choosing German again reloads
#      nothing.
# Screenshots are compared with tests/e2e/reference/browse_*.png;
# QUILVANE_E2E_UPDATE=1 writes the references instead.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
search_button_only
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless

mkdir -p "$QUILVANE_CARDS/Beach" "$QUILVANE_DOCUMENTS/Trip"
for i in 1 2 3; do
    "$probe" jpeg "$QUILVANE_CARDS/Beach/beach$i.jpg" 320 240 "$i" || fail "test picture"
done
for i in $(seq 1 12); do
    "$probe" jpeg "$QUILVANE_DOCUMENTS/Trip/trip$(printf %02d "$i").jpg" 1600 1200 $((i + 10)) || fail "test picture"
done
broken_jpeg "$QUILVANE_DOCUMENTS/Trip/trip13.jpg"
# An album list that holds no album yet, as after a search that found
# nothing: the search is this test's to start.
: > "$QUILVANE_FOLDERS_INI"

# Row y centres of the album list: the list starts at 53, rows are 56 high.
cat > "$work/first.txt" <<SCRIPT
wait_for 30000 started
wait 5
wait_idle 60000
screenshot $work/empty.png
tap 216 24
wait_for 60000 search_complete
wait 2
screenshot $work/searching.png
wait_for 60000 cache_complete
wait 10
wait_idle 60000
screenshot $work/albums.png
tap 216 24
wait_for 60000 search_complete
wait 10
wait_idle 60000
screenshot $work/searched_again.png
key Backspace
wait 30
wait_idle 60000
screenshot $work/main_menu.png
tap 120 280
wait 30
wait_idle 60000
screenshot $work/exit_menu.png
tap 120 280
wait 30
wait_idle 60000
screenshot $work/cancelled.png
SCRIPT
run_script first
same_as_reference browse empty
same_as_reference browse albums
same_as_reference browse main_menu
same_as_reference browse exit_menu
# "Cancel" leaves the album list as it was.
"$probe" compare "$work/cancelled.png" "$work/albums.png" 0.5 0 0 160 24 || fail "cancel changed the album list"
log=$(cat "$work/first.log")
grep -q "album form: exit" <<< "$log" && fail "Cancel ended the program"
# The button is disabled from each press to the end of its search, whether
# or not the search leaves caches to build; the progress bar moves while
# the first one's are built. The second search only tries the broken
# picture again, whose end may come before the screenshot or after it.
order=$(grep -o "album form: click btnSearch\|album form: search complete, search enabled\|album form: cache complete" <<< "$log" | tr '\n' ,)
first="album form: click btnSearch,album form: search complete, search enabled,album form: cache complete,"
second="album form: click btnSearch,album form: search complete, search enabled,"
[[ $order == "$first$second" || $order == "${first}${second}album form: cache complete," ]] \
    || fail "search button order: $order"
# Nothing was left to build: the same albums, the button enabled as before.
"$probe" compare "$work/searched_again.png" "$work/albums.png" 0.5 0 0 160 24 || fail "the second search left another screen"
[[ $(grep -c "album form: progress " <<< "$log") -ge 2 ]] || fail "the progress bar did not move"
[[ -s $QUILVANE_FOLDERS_INI ]] || fail "folders.ini not written"
albums=$(iconv -f UTF-16 -t UTF-8 "$QUILVANE_FOLDERS_INI" 2> /dev/null || cat "$QUILVANE_FOLDERS_INI")
beach=$(grep -n "Beach" <<< "$albums" | head -1 | cut -d: -f1)
trip=$(grep -n "Trip" <<< "$albums" | head -1 | cut -d: -f1)
[[ -n $beach && -n $trip && $beach -lt $trip ]] || fail "folders.ini: the card's album is not first"

"$probe" jpeg "$QUILVANE_CARDS/Beach/beach4.jpg" 320 240 4 || fail "test picture"
cat > "$work/second.txt" <<SCRIPT
wait_for 30000 started
wait 10
wait_idle 60000
screenshot $work/second.png
tap 120 81
wait_log 30000 refresh
wait 20
wait_idle 60000
screenshot $work/beach.png
tap 24 24
wait 20
tap 120 137
wait 40
wait_idle 60000
screenshot $work/trip.png
tap 91 256
wait 10
wait_idle 60000
screenshot $work/trip_after_empty_cell.png
tap 24 24
wait 20
key Backspace
wait 30
tap 120 280
wait 30
tap 120 230
wait 60
SCRIPT
run_script second
log=$(cat "$work/second.log")
grep -q "check_drive" <<< "$log" && fail "the second start searched"
"$probe" compare "$work/second.png" "$work/albums.png" 0.5 0 0 160 24 || fail "the second start shows other albums"
grep -q "refresh .*beach4.jpg num 3" <<< "$log" || fail "no refresh of the picture built while shown"
grep -q "folder form: .*Trip.* 13 pictures, 4 columns" <<< "$log" || fail "Trip: 13 pictures in 4 columns"
grep -q "album form: exit" <<< "$log" || fail "ReallyExit did not end the program"
same_as_reference browse beach
same_as_reference browse trip
# The last row has one picture: a tap on its second cell opens nothing.
grep -q "folder form: open .*trip" <<< "$log" && fail "an empty cell opened a picture"
"$probe" compare "$work/trip_after_empty_cell.png" "$work/trip.png" 0.5 0 0 160 24 || fail "an empty cell changed the screen"

# Main menu (24, 24), its language button (176, 96), German the second row.
cat > "$work/language.txt" <<SCRIPT
wait_for 30000 started
wait 10
tap 24 24
wait 20
tap 176 96
wait 30
tap 120 181
wait_log 30000 PropertiesImpl::send_reload_skin
wait 20
wait_idle 60000
screenshot $work/german_menu.png
tap 62 96
wait 20
wait_idle 60000
screenshot $work/german.png
SCRIPT
run_script language
grep -q "language Language#german" "$work/language.log" || fail "German not chosen"
grep -qi '"Language"="german"' "$QUILVANE_REGISTRY" || fail "the choice is not in the registry"
same_as_reference browse german_menu
same_as_reference browse german

cat > "$work/again.txt" <<SCRIPT
wait_for 30000 started
wait 10
wait_idle 60000
screenshot $work/german_start.png
tap 24 24
wait 20
tap 176 96
wait 30
tap 120 181
wait 30
SCRIPT
run_script again
"$probe" compare "$work/german_start.png" "$work/german.png" 0.5 0 0 160 24 || fail "the next start is not in German"
grep -q "send_reload_skin" "$work/again.log" && fail "choosing the loaded language reloaded"

if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_browse: ok"

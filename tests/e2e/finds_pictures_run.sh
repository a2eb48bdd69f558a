#!/usr/bin/env bash
# The program finds pictures by itself, headless on a small screen, with no
# input at all: a first start without an album list over a card ("Beach")
# and a documents folder ("Trip") searches at once and shows both albums
# with their thumbnails; a picture copied into a new folder while it runs
# becomes the album "Zoo" within 5 s, thumbnail included; the folder
# removed, its album goes within 5 s. The changes are quiet: no second
# search, the button never disabled again.
# Screenshots are compared with tests/e2e/reference/finds_*.png;
# QUILVANE_E2E_UPDATE=1 writes the references instead.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless

mkdir -p "$QUILVANE_CARDS/Beach" "$QUILVANE_DOCUMENTS/Trip" "$work/staging"
for i in 1 2; do
    "$probe" jpeg "$QUILVANE_CARDS/Beach/beach$i.jpg" 320 240 "$i" || fail "test picture"
done
for i in 1 2 3; do
    "$probe" jpeg "$QUILVANE_DOCUMENTS/Trip/trip$i.jpg" 800 600 $((i + 10)) || fail "test picture"
done
"$probe" jpeg "$work/staging/zoo.jpg" 640 480 30 || fail "test picture"
[[ -e $QUILVANE_FOLDERS_INI ]] && fail "an album list before the first start"

# Each change is made once the screenshot before it is there; the program
# has 5 s from then to show it.
cat > "$work/finds.txt" <<SCRIPT
wait_for 30000 started
wait_for 60000 search_complete
wait_for 60000 cache_complete
wait 10
wait_idle 60000
screenshot $work/found.png
wait_for 30000 albums_changed
wait_for 30000 cache_complete
wait 10
wait_idle 60000
screenshot $work/added.png
wait_for 30000 albums_changed
wait 10
wait_idle 60000
screenshot $work/removed.png
SCRIPT

# wait_for FILE: up to 90 s for the program to write it.
wait_for() {
    for _ in $(seq 900); do
        [[ -s $1 ]] && return 0
        sleep 0.1
    done
    return 1
}
(
    wait_for "$work/found.png" || exit 1
    mkdir "$QUILVANE_DOCUMENTS/Zoo"
    cp "$work/staging/zoo.jpg" "$QUILVANE_DOCUMENTS/Zoo/zoo.jpg"
    wait_for "$work/added.png" || exit 1
    rm -rf "$QUILVANE_DOCUMENTS/Zoo"
) &
changer=$!
trap 'kill $changer 2> /dev/null || true' ERR
run_script finds
wait "$changer" || fail "the changes were never made"

log=$(cat "$work/finds.log")
grep -q "gave up waiting" <<< "$log" && fail "$(grep "gave up waiting" <<< "$log")"
grep -q "album form: click" <<< "$log" && fail "something was pressed"
# The first search started by itself (the album screen shows it as one the
# button started, when it is still under way as the screen comes); the
# later changes came without one.
grep -q "no album list: the first search starts" <<< "$log" || fail "no search at start-up"
[[ $(grep -c "album form: search complete" <<< "$log") -eq 1 ]] || fail "more than the first search"
[[ -f $QUILVANE_FOLDERS_INI ]] || fail "folders.ini not written"
# Zoo came and went, and the list kept says it went.
grep -q "update %my_documents%.Zoo" <<< "$log" || fail "no update of Zoo"
albums=$(iconv -f UTF-16 -t UTF-8 "$QUILVANE_FOLDERS_INI" 2> /dev/null || cat "$QUILVANE_FOLDERS_INI")
grep -q "Zoo" <<< "$albums" && fail "folders.ini still holds Zoo"
grep -q "Trip" <<< "$albums" || fail "folders.ini lost Trip"

same_as_reference finds found
same_as_reference finds added
"$probe" compare "$work/removed.png" "$work/found.png" 0.5 0 0 160 24 || fail "the album list after the removal is not the first one"
"$probe" compare "$work/added.png" "$work/found.png" 0.5 0 0 160 24 && fail "the new album did not show"
exit 0

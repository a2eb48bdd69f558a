#!/usr/bin/env bash
# The browsing journey in the real SDL window under Xvfb, driven by
# xdotool: search a pictures tree, open an album, open a picture, zoom in
# with a double click, pan, swipe to the next picture and come back; then
# the same by the keys and the wheel alone (Return opens the album and a
# picture, + and a notch of the wheel zoom in, Right goes on to the next
# picture, Escape twice comes back); and leave through the exit menu.
# Skipped (77) when the X tools are missing.
quilvane=$1 probe=$2
for tool in Xvfb xauth xdotool xwd; do
    command -v $tool > /dev/null || { echo "e2e_xvfb_browse: $tool missing, skipped"; exit 77; }
done
if [[ -z ${QUILVANE_XVFB_INNER:-} ]]; then
    QUILVANE_XVFB_INNER=1 exec "$(dirname "$0")/with_xvfb.sh" 640x800x24 "$0" "$@"
fi
source "$(dirname "$0")/common.sh"
export QUILVANE_DISPLAY=window

mkdir -p "$QUILVANE_CARDS/Beach" "$QUILVANE_DOCUMENTS/Trip"
for i in 1 2; do "$probe" jpeg "$QUILVANE_CARDS/Beach/b$i.jpg" 320 240 "$i" || fail "test picture"; done
for i in 1 2 3 4 5; do "$probe" jpeg "$QUILVANE_DOCUMENTS/Trip/t$i.jpg" 1600 1200 $((i + 5)) || fail "test picture"; done

# wait_for TEXT [TENTHS]: until the log holds TEXT.
wait_for() {
    for _ in $(seq "${2:-150}"); do
        log_has "$quilvane" "$1" && return 0
        sleep 0.1
    done
    fail "gave up waiting for \"$1\""
}

# click_for X Y TEXT: clicks until the log holds TEXT (a click that lands
# while the screen is still changing may be taken by what goes away).
click_for() {
    for _ in 1 2 3; do
        xdotool mousemove --window "$window" "$1" "$2" click 1
        for _ in $(seq 30); do
            log_has "$quilvane" "$3" && return 0
            sleep 0.1
        done
    done
    fail "no \"$3\" after clicking $1,$2"
}

# shot NAME: the window as $work/NAME.png.
shot() {
    xwd -id "$window" -silent > "$work/$1.xwd" || fail "xwd"
    "$probe" xwd "$work/$1.xwd" "$work/$1.png" || fail "window dump unreadable"
}

# count_of TEXT: how many lines of the log, as far as written, hold TEXT.
count_of() {
    log_text "$quilvane" > "$work/.log_count" 2> /dev/null || true
    grep -cF -- "$1" "$work/.log_count" || true
}

# wait_count TEXT N [TENTHS]: until the log holds TEXT on N lines.
wait_count() {
    for _ in $(seq "${3:-150}"); do
        (($(count_of "$1") >= $2)) && return 0
        sleep 0.1
    done
    fail "gave up waiting for \"$1\" $2 times (seen $(count_of "$1"))"
}

# key NAME...: presses the keys in the window.
key() {
    xdotool key --window "$window" --delay 120 "$@"
}

# The same journey by the keys and the wheel, from the album list: Home
# and Down reach the second album (Trip), Return opens it; Right moves to
# its second thumbnail, Return opens it; + and a notch of the wheel over
# the picture zoom in; Right pans to the edge and then goes on to the
# next picture; Escape leaves the viewer and then the thumbnails.
keys_journey() {
    local albums frames backs rights escapes
    albums=$(count_of "folder form: %my_documents%\\Trip\\ 5 pictures")
    key Home Down Up Down
    sleep 0.3
    key Return
    wait_count "folder form: %my_documents%\\Trip\\ 5 pictures" $((albums + 1))
    sleep 0.5
    frames=$(count_of "image form: first full frame")
    key Right
    sleep 0.3
    key Return
    wait_for "folder form: open %my_documents%\\Trip\\t2.jpg"
    wait_count "image form: first full frame" $((frames + 1))
    sleep 1
    shot keys_picture
    # The whole picture asks for tiles of level 2 alone; zoomed in, the
    # view asks for the finer level 3.
    (($(count_of "add tile t2.jpg 3 ") == 0)) || fail "t2.jpg at level 3 before zooming in"
    key plus
    wait_for "(Plus)"
    xdotool mousemove --window "$window" 240 320
    sleep 0.2
    xdotool click --window "$window" 4
    wait_for "WM_MOUSEWHEEL 240 320 notches=1"
    wait_for "add tile t2.jpg 3 "
    sleep 1.5
    shot keys_zoomed
    rights=$(count_of "Set Right clear end")
    for _ in $(seq 20); do
        key Right
        for _ in $(seq 5); do
            (($(count_of "Set Right clear end") > rights)) && break 2
            sleep 0.1
        done
    done
    wait_count "Set Right clear end" $((rights + 1)) 30
    sleep 1
    shot keys_next
    backs=$(count_of "image form: back")
    escapes=$(count_of "WM_KEYDOWN = 27(Backspace)")
    key Escape
    wait_count "image form: back" $((backs + 1))
    sleep 0.5
    # Back on the album list, where the back key that follows opens the
    # main menu.
    key Escape
    wait_count "WM_KEYDOWN = 27(Backspace)" $((escapes + 2))
    sleep 0.5
}

"$quilvane" &
app=$!
window=$(window_of_app "$app")
wait_for "WinMain 14"
sleep 0.5
# The first start's own search, and its cache files.
wait_for "album form: cache complete" 600
sleep 0.5
shot albums
click_for 240 274 "folder form: %my_documents%\\Trip\\ 5 pictures"
sleep 1
shot trip
# The first picture, zoomed in by a double click, panned by a drag, then
# a quick drag to the next one.
click_for 66 164 "folder form: open"
sleep 2
shot picture
xdotool mousemove --window "$window" 240 320 click --repeat 2 --delay 80 1
sleep 1.5
shot zoomed
xdotool mousemove --window "$window" 300 320 mousedown 1
for x in 280 260 240 220 200; do xdotool mousemove --window "$window" $x 300; sleep 0.05; done
xdotool mouseup 1
sleep 1.5
shot panned
xdotool key --window "$window" BackSpace
wait_for "image form: back"
sleep 0.5
xdotool mousemove --window "$window" 66 164 click 1
sleep 1
xdotool mousemove --window "$window" 440 320 mousedown 1
for x in 380 300 220 140 60; do xdotool mousemove --window "$window" $x 320; sleep 0.02; done
xdotool mouseup 1
wait_for "Set Right clear end"
sleep 1
shot swiped
# The back key leaves the viewer (its buttons may have hidden themselves
# by now), then the album; on the album list it opens the main menu.
xdotool key --window "$window" BackSpace
wait_for "image form: back"
sleep 0.5
xdotool key --window "$window" BackSpace
sleep 0.5
keys_journey
xdotool key --window "$window" BackSpace
wait_for "album form: menu MainMenu"
sleep 0.5
click_for 240 560 "album form: menu Exit"
sleep 0.5
shot exit_menu
click_for 240 460 "album form: menu ReallyExit"
for _ in $(seq 100); do
    kill -0 $app 2> /dev/null || break
    sleep 0.1
done
if kill -0 $app 2> /dev/null; then
    kill -KILL $app
    fail "still running after the exit menu"
fi
wait $app || fail "exit code $?"

check_markers "$quilvane"
log=$(log_text "$quilvane")
grep -q "album form: exit" <<< "$log" || fail "not ended by the exit menu"
for name in albums trip picture zoomed panned swiped keys_picture keys_zoomed keys_next exit_menu; do
    "$probe" size "$work/$name.png" 480 640 || fail "$name.png size"
done
# A thumbnail stands where each album row begins and in the first cell of
# the album: no background colour there.
"$probe" pixel "$work/albums.png" 70 162 15 17 21 && fail "albums.png: no thumbnail in the first row"
"$probe" pixel "$work/trip.png" 66 164 15 17 21 && fail "trip.png: no first thumbnail"
"$probe" pixel "$work/trip.png" 360 92 22 25 30 || fail "trip.png header"
# The whole picture (4:3 on the upright screen) leaves a black band below
# it; zoomed in by + and the wheel, the picture fills it.
"$probe" pixel "$work/keys_picture.png" 240 520 0 0 0 || fail "keys_picture.png: no band below the picture"
"$probe" pixel "$work/keys_zoomed.png" 240 520 0 0 0 2> /dev/null && fail "keys_zoomed.png: not zoomed in"
# Each step of the viewer changes what the window shows.
for pair in "picture zoomed" "zoomed panned" "picture swiped" "keys_picture keys_zoomed" "keys_zoomed keys_next" \
    "keys_picture keys_next"; do
    set -- $pair
    "$probe" compare "$work/$1.png" "$work/$2.png" 20 2> /dev/null && fail "$2.png looks like $1.png"
done
if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_xvfb_browse: ok"

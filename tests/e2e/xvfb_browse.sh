#!/usr/bin/env bash
# The browsing journey in the real SDL window under Xvfb, driven by
# xdotool: search a pictures tree, open an album, come back, and leave
# through the exit menu. Skipped (77) when the X tools are missing.
quilvane=$1 probe=$2
for tool in xvfb-run xdotool xwd; do
    command -v $tool > /dev/null || { echo "e2e_xvfb_browse: $tool missing, skipped"; exit 77; }
done
if [[ -z ${QUILVANE_XVFB_INNER:-} ]]; then
    QUILVANE_XVFB_INNER=1 exec xvfb-run -a -s "-screen 0 640x800x24" "$0" "$@"
fi
source "$(dirname "$0")/common.sh"
export QUILVANE_DISPLAY=window

mkdir -p "$QUILVANE_CARDS/Beach" "$QUILVANE_DOCUMENTS/Trip"
for i in 1 2; do "$probe" jpeg "$QUILVANE_CARDS/Beach/b$i.jpg" 320 240 "$i" || fail "test picture"; done
for i in 1 2 3 4 5; do "$probe" jpeg "$QUILVANE_DOCUMENTS/Trip/t$i.jpg" 400 300 $((i + 5)) || fail "test picture"; done

# wait_for TEXT [TENTHS]: until the log holds TEXT.
wait_for() {
    for _ in $(seq "${2:-150}"); do
        log_text "$quilvane" 2> /dev/null | grep -qF "$1" && return 0
        sleep 0.1
    done
    fail "gave up waiting for \"$1\""
}

# shot NAME: the window as $work/NAME.png.
shot() {
    xwd -id "$window" -silent > "$work/$1.xwd" || fail "xwd"
    "$probe" xwd "$work/$1.xwd" "$work/$1.png" || fail "window dump unreadable"
}

"$quilvane" &
app=$!
window=
for _ in $(seq 100); do
    window=$(xdotool search --name '^Quilvane$' 2> /dev/null | head -1 || true)
    [[ -n $window ]] && break
    sleep 0.1
done
[[ -n $window ]] || fail "no window"
wait_for "WinMain 14"
sleep 0.5
# 480 x 640 at 192 dpi: the skin's units count twice.
xdotool mousemove --window "$window" 432 48 click 1
wait_for "album form: cache complete" 600
sleep 0.5
shot albums
xdotool mousemove --window "$window" 240 274 click 1
wait_for "folder form: %my_documents%\\Trip\\ 5 pictures"
sleep 1
shot trip
xdotool mousemove --window "$window" 48 48 click 1
sleep 0.5
xdotool key --window "$window" BackSpace
sleep 0.8
xdotool mousemove --window "$window" 240 560 click 1
sleep 0.8
shot exit_menu
xdotool mousemove --window "$window" 240 460 click 1
wait $app || fail "exit code $?"

check_markers "$quilvane"
log=$(log_text "$quilvane")
grep -q "album form: exit" <<< "$log" || fail "not ended by the exit menu"
for name in albums trip exit_menu; do
    "$probe" size "$work/$name.png" 480 640 || fail "$name.png size"
done
# A thumbnail stands where each album row begins and in the first cell of
# the album: no background colour there.
"$probe" pixel "$work/albums.png" 70 162 15 17 21 && fail "albums.png: no thumbnail in the first row"
"$probe" pixel "$work/trip.png" 66 164 15 17 21 && fail "trip.png: no first thumbnail"
"$probe" pixel "$work/trip.png" 360 92 22 25 30 || fail "trip.png header"
if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_xvfb_browse: ok"

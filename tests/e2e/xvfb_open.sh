#!/usr/bin/env bash
# The real SDL window under Xvfb, covered by another window: a second start
# with a picture, named relative to another folder, makes the running
# program show it in its viewer and come back in front of the other window;
# a second start without one only brings it to the front. Checked on dumps
# of the whole screen, by the colour of the picture's middle (flat teal).
# Skipped (77) when the X tools are missing.
quilvane=$1 probe=$2 make=$3
for tool in Xvfb xauth xdotool xwd xlogo; do
    command -v $tool > /dev/null || { echo "e2e_xvfb_open: $tool missing, skipped"; exit 77; }
done
if [[ -z ${QUILVANE_XVFB_INNER:-} ]]; then
    QUILVANE_XVFB_INNER=1 exec "$(dirname "$0")/with_xvfb.sh" 640x800x24 "$0" "$@"
fi
source "$(dirname "$0")/common.sh"
export QUILVANE_DISPLAY=window

teal="40 170 140"
mkdir -p "$QUILVANE_DOCUMENTS/Trip" "$work/elsewhere" "$work/second"
"$probe" jpeg "$QUILVANE_DOCUMENTS/Trip/a1.jpg" 400 300 1 || fail "test picture"
"$make" progressive 400 300 "$QUILVANE_DOCUMENTS/Trip/a2.jpg" || fail "test picture"

wait_for() {
    for _ in $(seq 300); do
        log_has "$quilvane" "$1" && return 0
        sleep 0.1
    done
    fail "gave up waiting for \"$1\""
}
# screen SHOT: the whole screen as $work/SHOT.png.
screen() {
    xwd -root -silent > "$work/$1.xwd" || fail "xwd"
    "$probe" xwd "$work/$1.xwd" "$work/$1.png" || fail "screen dump unreadable"
}
# middle SHOT MIN MAX: between MIN and MAX percent of the window's middle
# is teal.
middle() {
    "$probe" share "$work/$1.png" $((X + WIDTH / 2 - 20)) $((Y + HEIGHT / 2 - 20)) 40 40 $teal "$2" "$3" ||
        fail "$1.png: the middle of the window"
}

"$quilvane" &
app=$!
window=$(window_of_app "$app")
wait_for "WinMain 14"
eval "$(xdotool getwindowgeometry --shell "$window")"
# Another program's window over the whole of it.
xlogo -geometry "${WIDTH}x${HEIGHT}+${X}+${Y}" &
logo=$!
for _ in $(seq 100); do
    xdotool search --name '^xlogo$' > /dev/null 2>&1 && break
    sleep 0.1
done
sleep 0.5
screen covered
"$probe" share "$work/covered.png" $((X + 10)) $((Y + HEIGHT - 30)) 20 20 255 255 255 90 100 ||
    { kill $logo $app; fail "the other window does not cover the program"; }

(cd "$work/elsewhere" && TMPDIR=$work/second timeout 20 "$quilvane" ../docs/Trip/a2.jpg) ||
    { kill $logo $app; fail "second start: exit $?"; }
wait_for "image form: first full frame"
sleep 1
screen handed
middle handed 90 100

# Covered again; a start without a picture brings it back as it was.
xdotool windowraise "$(xdotool search --name '^xlogo$' | head -1)"
sleep 0.5
screen covered_again
middle covered_again 0 5
(TMPDIR=$work/second timeout 20 "$quilvane") || { kill $logo $app; fail "third start: exit $?"; }
wait_for "album form: command line, 0 paths"
sleep 1
screen raised
middle raised 90 100

kill $logo
kill -TERM $app
wait $app || fail "exit code $?"
log=$(log_text "$quilvane")
grep -q "folder form: open %my_documents%\\\\Trip\\\\a2.jpg" <<< "$log" || fail "the viewer did not open on a2"
[[ $(grep -c "Application: command line, brought to the front" <<< "$log") == 2 ]] || fail "not brought to the front twice"
if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_xvfb_open: ok"

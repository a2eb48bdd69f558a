#!/usr/bin/env bash
# The real SDL window under Xvfb: starts the program in window mode, clicks
# and presses keys with xdotool, dumps the window with xwd and checks that
# it shows the program's screens and that the input
# arrived: the click opens the main menu from the album list's menu button.
# Skipped (77) when the X tools are missing.
quilvane=$1 probe=$2
for tool in Xvfb xauth xdotool xwd; do
    command -v $tool > /dev/null || { echo "e2e_xvfb: $tool missing, skipped"; exit 77; }
done
if [[ -z ${QUILVANE_XVFB_INNER:-} ]]; then
    QUILVANE_XVFB_INNER=1 exec "$(dirname "$0")/with_xvfb.sh" 640x800x24 "$0" "$@"
fi
source "$(dirname "$0")/common.sh"
export QUILVANE_DISPLAY=window

"$quilvane" &
app=$!
window=$(window_of_app "$app")
for _ in $(seq 100); do
    log_has "$quilvane" "WinMain 14" && break
    sleep 0.1
done
sleep 0.5
xdotool mousemove --window "$window" 48 48 click 1
xdotool key --window "$window" Down F1
# The keys taken and the menu up, however long a busy machine takes.
for _ in $(seq 300); do
    log_has "$quilvane" "WM_KEYDOWN = 112(SOFT_LEFT)" && log_has "$quilvane" "menu form" && break
    sleep 0.1
done
xwd -id "$window" -silent > "$work/window.xwd" || fail "xwd"
"$probe" xwd "$work/window.xwd" "$work/window.png" || fail "window dump unreadable"
xdotool key --window "$window" Escape
# Closing the window ends the program in order.
kill -TERM $app
wait $app || fail "exit code $?"

check_markers "$quilvane"
log=$(log_text "$quilvane")
grep -q "album form: click btnMenu" <<< "$log" || fail "click not delivered"
grep -q "menu form" <<< "$log" || fail "main menu not built"
grep -q "WM_KEYDOWN = 40(Down)" <<< "$log" || fail "Down not delivered"
grep -q "WM_KEYDOWN = 112(SOFT_LEFT)" <<< "$log" || fail "F1 not delivered as the left soft key"
"$probe" size "$work/window.png" 480 640 || fail "window size"
"$probe" pixel "$work/window.png" 360 92 22 25 30 || fail "header"
"$probe" pixel "$work/window.png" 470 600 15 17 21 || fail "background"
if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work/window.png" "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_xvfb: ok"

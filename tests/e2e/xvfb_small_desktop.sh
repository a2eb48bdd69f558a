#!/usr/bin/env bash
# A phone-sized window (720 x 1280 at 320 dpi) asked for on a desktop only
# 1024 pixels high, in the real SDL window under Xvfb: the window opens
# shrunk to fit inside the desktop with its proportions (576 x 1024 at
# 256 dpi), every control of the album list lies inside the window, and
# clicking the menu and search buttons where the program placed them
# works. Then the window is made wide and low: the album list reflows to
# the new size, its controls are inside it again and the search button
# answers at its new place. Skipped (77) when the X tools are missing.
quilvane=$1 probe=$2
for tool in Xvfb xauth xdotool xwd; do
    command -v $tool > /dev/null || { echo "e2e_xvfb_small_desktop: $tool missing, skipped"; exit 77; }
done
if [[ -z ${QUILVANE_XVFB_INNER:-} ]]; then
    QUILVANE_XVFB_INNER=1 exec "$(dirname "$0")/with_xvfb.sh" 1280x1024x24 "$0" "$@"
fi
source "$(dirname "$0")/common.sh"
# An album list that holds no album yet: the search is the test's to start,
# by its button.
: > "$QUILVANE_FOLDERS_INI"
export QUILVANE_DISPLAY=window
export QUILVANE_SCREEN=720x1280@320

mkdir -p "$QUILVANE_DOCUMENTS/Trip"
for i in 1 2 3; do "$probe" jpeg "$QUILVANE_DOCUMENTS/Trip/t$i.jpg" 800 600 "$i" || fail "test picture"; done

# wait_for TEXT [TENTHS]: until the log holds TEXT.
wait_for() {
    for _ in $(seq "${2:-150}"); do
        log_has "$quilvane" "$1" && return 0
        sleep 0.1
    done
    fail "gave up waiting for \"$1\""
}

# count_of TEXT: how many lines of the log, as far as written, hold TEXT.
count_of() {
    log_text "$quilvane" > "$work/.log_count" 2> /dev/null || true
    grep -cF -- "$1" "$work/.log_count" || true
}

# click_for X Y TEXT N: clicks until the log holds TEXT on N lines (a click
# that lands while the screen is still changing may be taken by what goes
# away).
click_for() {
    for _ in 1 2 3; do
        xdotool mousemove --window "$window" "$1" "$2" click 1
        for _ in $(seq 30); do
            (($(count_of "$3") >= $4)) && return 0
            sleep 0.1
        done
    done
    fail "no \"$3\" after clicking $1,$2"
}

# layout_of WxH: the album list's last logged layout at that window size,
# as "NAME X Y W H" lines, waiting for it.
layout_of() {
    local line
    for _ in $(seq 150); do
        log_text "$quilvane" > "$work/.log_layout" 2> /dev/null || true
        line=$(grep -F "album form: layout $1 " "$work/.log_layout" | tail -1 || true)
        if [[ -n $line ]]; then
            sed -E 's/^.*album form: layout [0-9]+x[0-9]+ //' <<< "$line" | xargs -n 5
            return 0
        fi
        sleep 0.1
    done
    fail "no album list layout at $1"
}

# check_controls W H LAYOUT: every control has room and lies inside W x H;
# sets menu_x menu_y search_x search_y to the buttons' centres.
check_controls() {
    local w=$1 h=$2 name x y cw ch
    local -A seen=()
    while read -r name x y cw ch; do
        ((cw > 0 && ch > 0)) || fail "$name has no room at ${w}x$h: $x $y $cw $ch"
        ((x >= 0 && y >= 0 && x + cw <= w && y + ch <= h)) || fail "$name outside the ${w}x$h window: $x $y $cw $ch"
        seen[$name]=1
        case $name in
        btnMenu) menu_x=$((x + cw / 2)) menu_y=$((y + ch / 2)) ;;
        btnSearch) search_x=$((x + cw / 2)) search_y=$((y + ch / 2)) ;;
        esac
    done <<< "$3"
    for name in btnMenu btnSearch listApps; do
        [[ -n ${seen[$name]:-} ]] || fail "$name not in the layout at ${w}x$h"
    done
}

"$quilvane" &
app=$!
window=$(window_of_app "$app")
wait_for "WinMain 14"

# The window inside the desktop, in the proportions asked for.
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
[[ "$screen_w $screen_h" == "1280 1024" ]] || fail "Xvfb screen is $screen_w x $screen_h"
eval "$(xdotool getwindowgeometry --shell "$window")"
((X >= 0 && Y >= 0 && X + WIDTH <= screen_w && Y + HEIGHT <= screen_h)) \
    || fail "window at $X,$Y ${WIDTH}x$HEIGHT is not inside the ${screen_w}x$screen_h desktop"
((WIDTH == 576 && HEIGHT == 1024)) || fail "window ${WIDTH}x$HEIGHT, not 720 x 1280 shrunk to 1024 high"
wait_for "Application: screen 576x1024 at 256 dpi"

layout=$(layout_of 576x1024)
check_controls 576 1024 "$layout"
click_for "$menu_x" "$menu_y" "album form: click btnMenu" 1
xdotool key --window "$window" Escape
sleep 0.5
click_for "$search_x" "$search_y" "album form: click btnSearch" 1
wait_for "album form: search complete" 300
xwd -id "$window" -silent > "$work/small.xwd" || fail "xwd"
"$probe" xwd "$work/small.xwd" "$work/small.png" || fail "window dump unreadable"
"$probe" size "$work/small.png" 576 1024 || fail "window dump size"

# Wide and low: the layout follows the window.
xdotool windowmove "$window" 100 200
xdotool windowsize "$window" 1000 600
layout=$(layout_of 1000x600)
check_controls 1000 600 "$layout"
click_for "$search_x" "$search_y" "album form: click btnSearch" 2
xwd -id "$window" -silent > "$work/wide.xwd" || fail "xwd"
"$probe" xwd "$work/wide.xwd" "$work/wide.png" || fail "window dump unreadable"
"$probe" size "$work/wide.png" 1000 600 || fail "window dump size after the resize"
# The header bar runs the whole new width.
"$probe" pixel "$work/wide.png" 990 5 22 25 30 || fail "header not across the resized window"

kill -TERM $app
wait $app || fail "exit code $?"
if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work/small.png" "$work/wide.png" "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_xvfb_small_desktop: ok"

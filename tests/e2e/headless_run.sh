#!/usr/bin/env bash
# Runs the program headless with a script that waits for the first screen
# (the album list, empty), taps its menu button and takes screenshots;
# checks the exit code, the start-up marker order and what the screenshots
# show.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"

cat > "$work/script.txt" <<SCRIPT
# wait for the first screen, look, tap, look again
wait_for 30000 started
wait 3
screenshot $work/first.png
key Down
tap 48 48
wait_log 30000 album form: click btnMenu
wait 10
screenshot $work/tap.png
SCRIPT

QUILVANE_DISPLAY=headless QUILVANE_SCRIPT=$work/script.txt timeout 60 "$quilvane" || fail "exit code $?"
check_markers "$quilvane"
log=$(log_text "$quilvane")
grep -q "album form: click btnMenu" <<< "$log" || fail "tap not delivered"
grep -q "WM_KEYDOWN = 40(Down)" <<< "$log" || fail "key not delivered"

# Colours of the default skin's look: header bar 22 25 30 (96 px high at
# 192 dpi), background 15 17 21; the album list's menu button (a raised
# tile) in the top-left corner, the main menu's back button there after
# the tap.
for shot in first tap; do
    "$probe" size "$work/$shot.png" 480 640 || fail "$shot.png size"
    "$probe" pixel "$work/$shot.png" 360 92 22 25 30 || fail "$shot.png header"
    "$probe" pixel "$work/$shot.png" 470 600 15 17 21 || fail "$shot.png background"
done
log=$(log_text "$quilvane")
grep -q "menu form" <<< "$log" || fail "main menu not built"

# The same program asking for a quarter turn on the upright panel: the
# screenshot is the panel, the pen is turned back into the program's frame
# (a tap at the panel's top-left corner reaches the program's top-right).
rm -f "$work/quilvane.txt"
cat > "$work/turned.txt" <<SCRIPT
wait_for 30000 started
tap 48 591
wait_log 30000 album form: click btnMenu
wait 10
screenshot $work/turned.png
SCRIPT
QUILVANE_DISPLAY=headless:1 QUILVANE_SCRIPT=$work/turned.txt timeout 60 "$quilvane" || fail "turned: exit code $?"
log=$(log_text "$quilvane")
grep -q "album form: click btnMenu" <<< "$log" || fail "turned: tap not turned onto the menu button"
"$probe" size "$work/turned.png" 480 640 || fail "turned.png size"
# The program's header runs along the panel's left edge.
"$probe" pixel "$work/turned.png" 92 300 22 25 30 || fail "turned.png header"
"$probe" pixel "$work/turned.png" 470 320 15 17 21 || fail "turned.png background"

# A clean exit leaves no lock (the start's, or the settings') nor the socket.
leftover=$(find "$work" -name "*.lock" -o -name "*.sock")
[[ -z $leftover ]] || fail "left after exit: $leftover"

if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_headless: ok"

#!/usr/bin/env bash
# Runs the program headless with a script that waits for the first screen,
# taps it and takes screenshots; checks the exit code, the start-up marker
# order and what the screenshots show.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"

cat > "$work/script.txt" <<SCRIPT
# wait for the first screen, look, tap, look again
wait_log 15000 WinMain 14
wait 3
screenshot $work/first.png
tap 100 400
key Down
wait_log 5000 FirstScreen::on_pointer_button up 100,400
wait 3
screenshot $work/tap.png
SCRIPT

QUILVANE_DISPLAY=headless QUILVANE_SCRIPT=$work/script.txt timeout 60 "$quilvane" || fail "exit code $?"
check_markers "$quilvane"
log=$(log_text "$quilvane")
grep -q "FirstScreen::on_pointer_button down 100,400" <<< "$log" || fail "tap not delivered"
grep -q "WM_KEYDOWN = 40(Down)" <<< "$log" || fail "key not delivered"

# Colours of the default skin's look: header bar 22 25 30 (96 px high at
# 192 dpi), background 15 17 21, accent 76 166 232 marking the tap.
for shot in first tap; do
    "$probe" size "$work/$shot.png" 480 640 || fail "$shot.png size"
    "$probe" pixel "$work/$shot.png" 470 60 22 25 30 || fail "$shot.png header"
    "$probe" pixel "$work/$shot.png" 470 600 15 17 21 || fail "$shot.png background"
done
"$probe" pixel "$work/first.png" 100 400 15 17 21 || fail "first.png marked before the tap"
"$probe" pixel "$work/tap.png" 100 400 76 166 232 || fail "tap.png has no mark at the tap"

# The same program asking for a quarter turn on the upright panel: the
# screenshot is the panel, the pen is turned back into the program's frame
# (a tap at the panel's top-left corner reaches the program's top-right).
rm -f "$work/quilvane.txt"
cat > "$work/turned.txt" <<SCRIPT
wait_log 15000 WinMain 14
tap 0 0
tap 100 400
wait_log 5000 FirstScreen::on_pointer_button up 239,100
wait 3
screenshot $work/turned.png
SCRIPT
QUILVANE_DISPLAY=headless:1 QUILVANE_SCRIPT=$work/turned.txt timeout 60 "$quilvane" || fail "turned: exit code $?"
log=$(log_text "$quilvane")
grep -q "FirstScreen::on_pointer_button down 639,0" <<< "$log" || fail "turned: corner tap not turned"
"$probe" size "$work/turned.png" 480 640 || fail "turned.png size"
# The program's header runs along the panel's left edge.
"$probe" pixel "$work/turned.png" 80 100 22 25 30 || fail "turned.png header"
"$probe" pixel "$work/turned.png" 300 60 15 17 21 || fail "turned.png background"
"$probe" pixel "$work/turned.png" 100 400 76 166 232 || fail "turned.png has no mark at the tap"

if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_headless: ok"

#!/usr/bin/env bash
# The page of every element (quilvane --demo), driven headless: a button
# and the three-state check box, a flick that sends the 1,000-row list far
# down, the popup menu with a choice made and kept, a disabled row that
# does nothing, and text typed into the edit field. Screenshots are
# compared with tests/e2e/reference/widgets_*.png (the list, whose resting
# place depends on the frame times, is left out of the comparison after
# the flick); QUILVANE_E2E_UPDATE=1 writes the references instead.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless

cat > "$work/demo.txt" <<SCRIPT
wait_for 30000 started
wait 10
screenshot $work/start.png
tap 62 64
tap 178 64
wait 5
tap 178 64
wait 10
screenshot $work/pressed.png
down 120 310
wait_ms 20
move 120 270
wait_ms 20
move 120 230
wait_ms 20
move 120 190
up 120 190
wait_log 30000 demo: list at row
wait 10
screenshot $work/flung.png
tap 216 20
wait 30
screenshot $work/menu.png
tap 120 181
wait 30
tap 216 20
wait 30
screenshot $work/menu_again.png
tap 120 231
wait 10
tap 120 280
wait 30
tap 230 194
wait 5
text !!
key Backspace
wait_log 30000 demo: edit text [Edit me!]
wait 10
screenshot $work/typed.png
SCRIPT
run_script demo --demo
log=$(cat "$work/demo.log")

grep -q "demo: click btnDemo" <<< "$log" || fail "button click not delivered"
[[ $(grep -c "demo: click chkDemo" <<< "$log") == 2 ]] || fail "two check box clicks expected"
grep -q "demo: state 2" <<< "$log" || fail "the check box did not reach its third state"
# A flick leaves the list coasting well past the finger's 120 pixels (four
# rows of 30).
row=$(grep -o "demo: list at row [0-9]*" <<< "$log" | tail -1 | grep -o "[0-9]*$")
[[ -n $row && $row -ge 15 ]] || fail "the flick stopped at row ${row:-none}"
grep -q "demo: menu Second" <<< "$log" || fail "menu choice not delivered"
grep -q "demo: menu Never" <<< "$log" && fail "a disabled row was chosen"
grep -qF "demo: edit text [Edit me!]" <<< "$log" || fail "typed text not in the edit field"

same_as_reference widgets start
same_as_reference widgets pressed
same_as_reference widgets flung 0 240 240 80
same_as_reference widgets menu 0 240 240 80
same_as_reference widgets menu_again 0 240 240 80
same_as_reference widgets typed 0 240 240 80
if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_widgets: ok"

#!/usr/bin/env bash
# The viewer driven by keys and the mouse, headless on a 240 x 320 screen
# over "Gallery": three large pictures, the first with an Exif date taken.
# In one run: the first picture; two notches of the wheel zooming in around
# (60, 100); a double click there going to full size; 0 back to the whole
# picture and Right sliding to the second; End to the last (its neighbour,
# so sliding too); Home back to the first at once, and I showing its information (name, pixels, file size and the
# Exif date; the folder, a temporary path, is left out of the comparison);
# S starting a slideshow of one second a picture that slides on once and a
# key stopping it; F and F11 toggling full screen (a wish only, headless);
# the right button opening the viewer's menu.
# Screenshots are compared with tests/e2e/reference/viewer_keys_*.png;
# QUILVANE_E2E_UPDATE=1 writes the references instead.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless
printf '"SlideshowSeconds"=dword:00000001\n' >> "$QUILVANE_REGISTRY"

gallery=$QUILVANE_DOCUMENTS/Gallery
mkdir -p "$gallery"

# with_exif_date IN OUT DATE: the JPEG with an Exif block put in front whose
# Exif IFD holds DateTimeOriginal = DATE ("YYYY:MM:DD HH:MM:SS"), laid out as
# cameras write it, little-endian.
with_exif_date() {
    {
        printf '\xff\xd8'
        printf '\xff\xe1\x00\x54Exif\x00\x00'                     # APP1, 84 bytes
        printf 'II*\x00\x08\x00\x00\x00'                          # TIFF header, IFD0 at 8
        printf '\x02\x00'                                         # IFD0: two entries
        printf '\x12\x01\x03\x00\x01\x00\x00\x00\x01\x00\x00\x00' # Orientation 1
        printf '\x69\x87\x04\x00\x01\x00\x00\x00\x26\x00\x00\x00' # the Exif IFD, at 38
        printf '\x00\x00\x00\x00'                                 # no next IFD
        printf '\x01\x00'                                         # Exif IFD: one entry
        printf '\x03\x90\x02\x00\x14\x00\x00\x00\x38\x00\x00\x00' # DateTimeOriginal, 20 at 56
        printf '\x00\x00\x00\x00'
        printf '%s\x00' "$3"
        tail -c +3 "$1"
    } > "$2"
}

"$probe" jpeg "$work/plain.jpg" 2400 1800 1 || fail "test picture"
with_exif_date "$work/plain.jpg" "$gallery/a.jpg" "2020:08:15 18:30:00"
"$probe" jpeg "$gallery/b.jpg" 1600 1200 2 || fail "test picture"
"$probe" jpeg "$gallery/c.jpg" 1200 1600 3 || fail "test picture"

# The album row at y 81, the first cell at (33, 82).
cat > "$work/keys.txt" <<SCRIPT
wait_for 30000 started
wait_for 60000 cache_complete
wait 5
tap 120 81
wait 20
tap 33 82
wait 60
wait_idle 60000
screenshot $work/first.png
wheel 60 100 1
wheel 60 100 0.5
wheel 60 100 0.5 ctrl
wait_log 30000 WM_MOUSEWHEEL 60 100 notches=0.5 ctrl
wait 90
wait_idle 60000
screenshot $work/wheeled.png
dblclick 60 100
wait_log 30000 WM_LBUTTONDBLCLK 60 100
wait 90
wait_idle 60000
screenshot $work/full.png
key 0
wait 40
key Right
wait_log 30000 Set Right clear end
wait 60
wait_idle 60000
screenshot $work/second.png
key End
wait 60
wait_idle 60000
screenshot $work/last.png
key Home
wait 60
key I
wait_log 30000 image form: information on a.jpg taken
wait 10
wait_idle 60000
screenshot $work/info.png
key I
key S
wait_log 30000 image form: slideshow every 1 s
wait_log 30000 Set Right clear end
key A
wait_log 30000 image form: slideshow stopped
wait 60
wait_idle 60000
screenshot $work/slideshow.png
key F
key F11
rclick 120 160
wait_log 30000 image form: menu ViewerMenu
wait 40
wait_idle 60000
screenshot $work/menu.png
SCRIPT
run_script keys
log=$(cat "$work/keys.log")
grep -q "WM_MOUSEWHEEL 60 100 notches=1$" <<< "$log" || fail "the wheel's notch did not arrive"
# End from the second picture slides to the third, the last; Home from there
# puts the first in place at once.
awk '/WM_KEYDOWN = 35\(End\)/ { at_end = 1 } /Set Right clear end/ && at_end { slid = 1 } /WM_KEYDOWN = 36\(Home\)/ { at_end = 0 }
     END { exit !slid }' <<< "$log" || fail "End did not go to the last picture"
grep -q "image form: go to 0" <<< "$log" || fail "Home did not go to the first picture"
# Headless, full screen is only a wish, but F and F11 both toggle it.
[[ $(grep -c "Application::toggle_full_screen" <<< "$log") == 2 ]] || fail "F and F11 did not both toggle full screen"
grep -A3 "toggle_full_screen on" <<< "$log" | grep -q "toggle_full_screen off" || fail "full screen was not toggled back"
# The slideshow slid on by itself, once, before the key stopped it.
awk '/slideshow every 1 s/ { on = 1 } /Set Right clear end/ && on { slid++ } /slideshow stopped/ { stopped = on; on = 0 }
     END { exit !(stopped && slid == 1) }' <<< "$log" || fail "the slideshow did not slide on once and stop"

same_as_reference viewer_keys first
same_as_reference viewer_keys wheeled
same_as_reference viewer_keys full
same_as_reference viewer_keys second
same_as_reference viewer_keys last
# The information's folder row shows the temporary folder.
same_as_reference viewer_keys info 98 189 136 17
same_as_reference viewer_keys slideshow
same_as_reference viewer_keys menu
# Each zoom changed the picture; the whole picture came back.
"$probe" compare "$work/wheeled.png" "$work/first.png" 30 0 0 160 24 2> /dev/null && fail "the wheel did not zoom"
"$probe" compare "$work/full.png" "$work/wheeled.png" 30 0 0 160 24 2> /dev/null && fail "the double click did not zoom"
"$probe" compare "$work/second.png" "$work/first.png" 30 0 0 160 24 2> /dev/null && fail "Right did not page"

if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
echo "e2e_viewer_keys: ok"

#!/usr/bin/env bash
# A pictures folder with one picture of every format, headless on a 240 x 320
# screen: the album counts 8 pictures (the RAW beside the JPEG of the same
# name is that picture's), its thumbnails each show their picture's middle,
# and the viewer shows each picture, then at full size after "1".
# Every picture is 800 x 600, grey with a 240-pixel block of its own colour
# in the middle: fitted to the screen the block is 72 pixels wide, at full
# size it fills the middle of the screen.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
export QUILVANE_SCREEN=240x320@96
export QUILVANE_DISPLAY=headless

python=/usr/bin/python3
"$python" -c "import PIL, numpy" 2> /dev/null || { echo "SKIP: $python with PIL and numpy makes the pictures"; exit 0; }
album=$QUILVANE_DOCUMENTS/Formats
mkdir -p "$album"
names=(a.jpg b.png c.gif d.webp e.tif f.heic g.avif h.jxl)
colours=("200 60 40" "40 170 140" "230 200 40" "60 90 220" "200 60 200" "120 200 60" "240 130 30" "90 200 230")
"$python" - "$album" "${colours[@]}" <<'PY' || fail "test pictures"
import os, sys
import numpy as np
from PIL import Image
album, colours = sys.argv[1], [tuple(int(v) for v in c.split()) for c in sys.argv[2:]]
def picture(colour, alpha=False):
    a = np.full((600, 800, 3), 90, np.uint8)
    a[180:420, 280:520] = colour
    return Image.fromarray(a)
picture(colours[0]).save(album + '/a.jpg', quality=95)
picture(colours[1]).save(album + '/b.png')
picture(colours[2]).save(album + '/c.gif')
picture(colours[3]).save(album + '/d.webp', lossless=True)
picture(colours[4]).save(album + '/e.tif')
for name, colour in (('f', colours[5]), ('g', colours[6]), ('h', colours[7])):
    picture(colour).save(album + '/' + name + '.png')
PY
heif-enc -q 95 "$album/f.png" -o "$album/f.heic" > /dev/null || fail "heif-enc"
heif-enc -A -q 95 "$album/g.png" -o "$album/g.avif" > /dev/null || fail "heif-enc -A"
cjxl -d 0 "$album/h.png" "$album/h.jxl" > /dev/null 2>&1 || fail "cjxl"
rm "$album"/[fgh].png
# The camera's RAW of a.jpg: counted with it, never opened.
echo "not read" > "$album/a.CR2"

echo "wait_for 60000 cache_complete" > "$work/search.txt"
run_script search
printf 'wait_for 30000 started\nwait_for 30000 first_full_frame\n' > "$work/count.txt"
run_script count "$album/a.jpg"
grep -qF 'folder form: %my_documents%\Formats\ 8 pictures' "$work/count.log" || fail "the album does not count 8 pictures"

{
    cat <<SCRIPT
wait_for 30000 started
wait_for 30000 first_full_frame
wait_idle 30000
SCRIPT
    for i in "${!names[@]}"; do
        # A key acts in the frames after it: the waits in program time let
        # it (and the zoom's animation) run, then the tiles are waited for.
        ((i > 0)) && printf 'key Right\nwait 400\nwait_idle 30000\n'
        printf 'screenshot %s\nkey 1\nwait 400\nwait_idle 30000\nscreenshot %s\nkey 0\nwait 400\n' \
            "$work/fit_$i.png" "$work/full_$i.png"
    done
    printf 'key Backspace\nwait 100\nwait_idle 30000\nscreenshot %s\n' "$work/thumbs.png"
} > "$work/view.txt"
QUILVANE_SCRIPT=$work/view.txt timeout 120 "$quilvane" "$album/a.jpg" || fail "viewer: exit $?"
log=$(log_text "$quilvane")
shown=$(grep "picture cannot be shown:" <<< "$log" || true)
[[ -z $shown ]] || fail "a picture was refused: $shown"

for i in "${!names[@]}"; do
    # Fitted, the block covers about half of the 100-pixel middle; at full size all of it.
    "$probe" share "$work/fit_$i.png" 70 110 100 100 ${colours[$i]} 30 70 || fail "${names[$i]}: not shown fitted"
    "$probe" share "$work/full_$i.png" 70 110 100 100 ${colours[$i]} 95 100 || fail "${names[$i]}: not shown at full size"
    # Thumbnails in cells 58 pixels wide from x 4, four to a row; rows 58 apart from y 81.
    x=$((4 + 58 * (i % 4) + 24)) y=$((76 + 58 * (i / 4)))
    "$probe" share "$work/thumbs.png" $x $y 10 10 ${colours[$i]} 90 100 || fail "${names[$i]}: its thumbnail"
done

#!/usr/bin/env bash
# Pictures as cameras, phones and image editors write them, driven headless
# on the default 480 x 640 screen. One album, "Phone", made with libjpeg by
# make_pictures: a progressive picture, an Adobe CMYK one, three phone
# pictures stored turned with Exif orientations 3, 6 and 8 (upright: a
# landscape, a portrait that fills the screen exactly, a landscape stored
# as a portrait), and a picture cut off halfway through its data.
#   1. after a search, the thumbnail page: every picture but the cut one
#      shows its own colours (the phone pictures sky up, the red marker to
#      the left), the cut one the broken-picture icon;
#   2. the viewer: the progressive and CMYK pictures in their colours, each
#      phone picture upright, fitted and reaching the edges it should, the
#      cut picture as one centred icon with its reason in full underneath;
#   3. quilvane-cache build over a copy of the album names the cut picture,
#      and only it, as unreadable, with the same reason.
# Everything is checked by colour in the places the scenes put them, so
# that no screenshot of the program is taken as the truth.
quilvane=$1 probe=$2 make_pictures=$3 cache_tool=$4
source "$(dirname "$0")/common.sh"
export QUILVANE_DISPLAY=headless

album=$QUILVANE_DOCUMENTS/Phone
mkdir -p "$album"
# Names in the order the album lists them: the cells of the thumbnail page.
"$make_pictures" progressive 1024 768 "$album/a_progressive.jpg" || fail "test picture"
"$make_pictures" cmyk 800 600 "$album/b_cmyk.jpg" || fail "test picture"
"$make_pictures" phone3 1280 960 "$album/c_phone3.jpg" || fail "test picture"
"$make_pictures" phone6 906 1208 "$album/d_phone6.jpg" || fail "test picture"
"$make_pictures" phone8 1000 750 "$album/e_phone8.jpg" || fail "test picture"
"$make_pictures" cut 1200 900 "$album/f_cut.jpg" || fail "test picture"

# The colours make_pictures paints with, and the skin's.
teal="40 170 140"
cmyk_seen="180 94 31" # the CMYK middle's inks as an Adobe file means them
sky="110 180 235"
ground="60 80 40"
marker="220 30 40"
black="0 0 0"
icon_back="34 37 42"   # thumbs/bad: its tile,
icon_frame="122 134 146" # the picture frame drawn on it
icon_slash="216 84 80"   # and the slash across
text="232 236 241"     # the viewer's problemText

# Failures are collected, so that one run tells everything that is wrong.
problems=()
expect() {
    local what=$1
    shift
    "$@" || problems+=("$what")
}

# Album row at y 162 (the list starts at 106, rows are 112 high); search
# button (432, 48); cells 88 px square at x 22, 138, 254, 370 on rows from
# y 120 and 236; the viewer's back button (60, 60).
cells_x=(22 138 254 370 22 138)
cells_y=(120 120 120 120 236 236)
names=(a_progressive b_cmyk c_phone3 d_phone6 e_phone8 f_cut)
# A picture that fills the screen lies under the controls' shaded bands:
# a tap in the middle hides them for its screenshot and a second brings
# them back, so that the back button answers.
open_picture() {
    local x=$((cells_x[$1] + 44)) y=$((cells_y[$1] + 44)) name=${names[$1]}
    cat <<SCRIPT
tap $x $y
wait_for 30000 folder_open
wait_log 30000 found $name.jpg
wait 90
SCRIPT
    if [[ ${2:-} == bare ]]; then
        printf 'tap 240 320\nwait 60\n'
    fi
    echo "screenshot $work/$name.png"
    if [[ ${2:-} == bare ]]; then
        printf 'tap 240 320\nwait 60\n'
    fi
    printf 'tap 60 60\nwait 20\n'
}
{
    cat <<SCRIPT
wait_for 30000 started
wait 3
tap 432 48
wait_for 60000 cache_complete
wait 10
tap 240 162
wait_log 30000 6 pictures, 4 columns
wait 40
screenshot $work/thumbnails.png
SCRIPT
    for i in 0 1 2 4; do
        open_picture $i
        [[ $i == 2 ]] && open_picture 3 bare
    done
    # The cut picture was its neighbour's right one a moment ago: its
    # reason is in the log already, and only the screenshot tells.
    cat <<SCRIPT
tap 182 280
wait_for 30000 folder_open
wait 90
screenshot $work/f_cut.png
SCRIPT
} > "$work/real.txt"
run_script real
log=$(cat "$work/real.log")

opened=$(grep -o 'folder form: open .*\\[a-f]_[a-z0-9]*\.jpg' <<< "$log" | sed 's/.*\\//' | tr '\n' ,)
[[ $opened == "a_progressive.jpg,b_cmyk.jpg,c_phone3.jpg,d_phone6.jpg,e_phone8.jpg,f_cut.jpg," ]] \
    || fail "the taps opened $opened"
# The cut picture is told apart from the others by its reason, both as a
# neighbour and in the middle; no other picture has one.
after_open=$(sed -n '/folder form: open .*f_cut\.jpg/,$p' <<< "$log")
expect "no reason logged for the cut picture once opened" \
    grep -qF "picture cannot be shown: f_cut.jpg the picture is cut short or damaged" <<< "$after_open"
others=$(grep "picture cannot be shown:" <<< "$log" | grep -v "f_cut.jpg" || true)
expect "a readable picture was refused: $others" test -z "$others"
grep -q "Bad picture in creation" <<< "$log" && problems+=("a cache file was refused by the viewer")

# share SHOT X Y W H COLOUR MIN MAX
share() {
    "$probe" share "$work/$1.png" "${@:2}"
}

# 1. The thumbnail page. A cell holds the picture's 64 x 64 middle (nearer
# the top for a portrait) stretched to 88 x 88.
for i in 0 1 2 3 4; do
    x=${cells_x[i]} y=${cells_y[i]}
    expect "thumbnail of ${names[i]} is the broken-picture icon" share thumbnails $x $y 88 88 $icon_frame 0 1
    expect "thumbnail of ${names[i]} is an icon, not the picture" share thumbnails $x $y 88 88 $icon_back 0 5
done
expect "the progressive picture's thumbnail is not teal" share thumbnails 46 144 40 40 $teal 90 100
expect "the CMYK picture's thumbnail is not in its colours" share thumbnails 162 144 40 40 $cmyk_seen 90 100
# The landscape (orientation 3): sky above the middle, ground below.
expect "phone3 thumbnail: no sky at the top" share thumbnails 274 126 48 30 $sky 90 100
expect "phone3 thumbnail: no ground at the bottom" share thumbnails 274 174 48 28 $ground 90 100
# The portrait (orientation 6): its window starts near the top, where the
# marker's corner shows, at the left.
expect "phone6 thumbnail: no sky at the top" share thumbnails 400 146 50 40 $sky 90 100
expect "phone6 thumbnail: no ground at the bottom" share thumbnails 390 196 48 10 $ground 90 100
expect "phone6 thumbnail: no marker at the top left" share thumbnails 370 120 14 20 $marker 30 100
expect "phone6 thumbnail: a marker at the top right" share thumbnails 444 120 14 20 $marker 0 1
# The landscape stored as a portrait (orientation 8).
expect "phone8 thumbnail: no sky at the top" share thumbnails 42 250 48 24 $sky 90 100
expect "phone8 thumbnail: no ground at the bottom" share thumbnails 42 288 48 30 $ground 90 100
expect "phone8 thumbnail: no marker at the top left" share thumbnails 22 236 10 12 $marker 15 100
expect "phone8 thumbnail: a marker at the top right" share thumbnails 98 236 10 12 $marker 0 1
# The cut picture: the broken-picture icon, frame and slash.
expect "the cut picture's cell is not the icon's tile" share thumbnails 138 236 88 88 $icon_back 60 100
expect "the cut picture's cell has no picture frame" share thumbnails 138 236 88 88 $icon_frame 4 100
expect "the cut picture's cell has no slash" share thumbnails 138 236 88 88 $icon_slash 1.5 100

# 2. The viewer. in_picture SHOT U0 V0 U1 V1 COLOUR MIN MAX: of the shown
# picture (on screen at $px $py, $pw x $ph), the part from (U0, V0) to
# (U1, V1), in hundredths of its width and height, is between MIN and MAX
# percent COLOUR. Parts are chosen clear of the buttons and the position
# text over the picture (back top left, rotate bottom left, zoom bottom
# right, "N of 6" at the top middle).
in_picture() {
    share "$1" $((px + pw * $2 / 100)) $((py + ph * $3 / 100)) $((pw * ($4 - $2) / 100)) $((ph * ($5 - $3) / 100)) \
        "${@:6}"
}
# A landscape fitted to the width: 480 x 360, black above and below.
px=0 py=140 pw=480 ph=360
expect "progressive: the middle is not teal" in_picture a_progressive 35 35 65 65 $teal 90 100
expect "CMYK: the middle is not in its colours" in_picture b_cmyk 35 35 65 65 $cmyk_seen 90 100

# upright SHOT: sky over the top half with the marker in its top-left
# corner, ground under it; the edges of the screen rectangle are the
# picture's own, first and last row and column (all but a few of their
# pixels: a row or column from elsewhere is off in most of them).
upright() {
    local shot=$1 bottom=$((py + ph - 1)) right=$((px + pw - 1))
    expect "$shot: no sky at the top right" in_picture $shot 35 5 95 45 $sky 85 100
    expect "$shot: the marker is at the top right" in_picture $shot 72 2 98 23 $marker 0 2
    expect "$shot: no marker at the top left" in_picture $shot 3 17 27 23 $marker 85 100
    expect "$shot: no ground at the bottom" in_picture $shot 25 55 95 95 $ground 85 100
    expect "$shot: the marker is at the bottom left" in_picture $shot 3 55 27 70 $marker 0 2
    expect "$shot: the top row is not sky" share $shot $((px + pw / 3)) $py $((pw * 2 / 3)) 1 $sky 98 100
    expect "$shot: the bottom row is not ground" share $shot $((px + pw / 4)) $bottom $((pw * 3 / 4)) 1 $ground 98 100
    expect "$shot: the left column is not ground" share $shot $px $((py + ph * 55 / 100)) 1 $((ph * 2 / 10)) $ground 98 100
    expect "$shot: the right column is not sky" share $shot $right $((py + ph * 30 / 100)) 1 $((ph * 15 / 100)) $sky 98 100
    expect "$shot: the right column is not ground" share $shot $right $((py + ph * 55 / 100)) 1 $((ph * 4 / 10)) $ground 98 100
}
letterboxed() {
    expect "$1: not black above the picture" share $1 110 106 370 30 $black 98 100
    expect "$1: not black below the picture" share $1 0 504 480 28 $black 98 100
}
px=0 py=140 pw=480 ph=360
upright c_phone3
letterboxed c_phone3
upright e_phone8
letterboxed e_phone8
# The portrait has the screen's own shape: it covers all of it.
px=0 py=0 pw=480 ph=640
upright d_phone6

# The cut picture: one icon in the middle and nowhere else, and the
# reason in full in the text's box (32 px from either side, under the
# icon): nothing drawn in its last pixels, as a line cut off would.
expect "cut: no icon in the middle" share f_cut 200 280 80 80 $icon_slash 0.5 100
expect "cut: an icon at the left" share f_cut 0 110 200 420 $icon_slash 0 0
expect "cut: an icon at the right" share f_cut 280 110 200 420 $icon_slash 0 0
expect "cut: no reason under the icon" share f_cut 32 380 416 120 $text 1.5 40
expect "cut: the reason does not fit its line" share f_cut 440 380 8 120 $text 0 0

# 3. The command-line builder over a copy of the album.
mkdir -p "$work/copy"
cp "$album"/*.jpg "$work/copy/"
built=$(timeout 120 "$cache_tool" build "$work/copy") || fail "quilvane-cache build: exit code $?"
expect "quilvane-cache: $(grep built <<< "$built")" grep -q "built 5, already valid 0, unreadable 1" <<< "$built"
expect "quilvane-cache does not name the cut picture's reason" \
    grep -qF "f_cut.jpg: the picture is cut short or damaged" <<< "$built"

if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi
if ((${#problems[@]})); then
    printf 'FAIL: %s\n' "${problems[@]}" >&2
    exit 1
fi
echo "e2e_real_pictures: ok"

#!/usr/bin/env bash
# The frame buffer driver through its real code path: a plain file stands
# for the device (its mode given by QUILVANE_FB_MODE, as the mode ioctls
# fail on it) and a FIFO of input_event records for the touch screen. The
# same journey - taps, a swipe, a drop of the event stream - runs once
# headless and then on the file in RGB565 and XRGB8888 with the panel in
# each of the four orientations; every frame the file shows must equal the
# headless screenshot of the same moment, pixel for pixel.
quilvane=$1 probe=$2 fbprobe=$3
source "$(dirname "$0")/common.sh"
# No log: its frame-time overlay would differ from run to run. The script
# waits by frames instead, the frame buffer run until the picture comes.
printf '[HKEY_CURRENT_USER\\Software\\Zenk]\n"Log"=dword:00000000\n' > "$QUILVANE_REGISTRY"

cat > "$work/script.txt" <<SCRIPT
wait 100
screenshot $work/albums.png
tap 48 48
wait 100
screenshot $work/menu.png
drag 240 520 240 160 8
wait 100
screenshot $work/swiped.png
tap 125 190
wait 100
screenshot $work/back.png
SCRIPT
QUILVANE_DISPLAY=headless QUILVANE_SCRIPT=$work/script.txt timeout 60 "$quilvane" || fail "headless: exit code $?"
for shot in albums menu swiped back; do
    "$probe" size "$work/$shot.png" 480 640 || fail "$shot.png size"
done
# The journey goes somewhere: the menu over the albums, and back.
cmp -s "$work/albums.png" "$work/menu.png" && fail "the tap on the menu button showed no menu"
cmp -s "$work/menu.png" "$work/back.png" && fail "the back tile did not leave the menu"

pid=
stop() {
    if [[ -n $pid ]]; then
        kill "$pid" 2> /dev/null || true
        wait "$pid" 2> /dev/null || true
    fi
    pid=
}
trap 'stop; rm -rf "$work"' EXIT

for bits in 16 32; do
    for turn in 0 1 2 3; do
        name="fb$bits-$turn"
        if ((turn % 2)); then mode=640x480:$bits; else mode=480x640:$bits; fi
        rm -f "$work/fb.raw" "$work"/*.fifo "$work/quilvane.txt"
        truncate -s $((480 * 640 * bits / 8)) "$work/fb.raw"
        # Two touch screens: one of single touch, one of the slot protocol.
        mkfifo "$work/touch.fifo" "$work/slots.fifo"
        QUILVANE_DISPLAY=framebuffer QUILVANE_FBDEV=$work/fb.raw QUILVANE_FB_MODE=$mode \
            QUILVANE_INPUT=$work/touch.fifo:$work/slots.fifo QUILVANE_PANEL_ORIENTATION=$turn timeout 120 "$quilvane" &
        pid=$!
        send() { "$fbprobe" send "$work/$1.fifo" "$turn" 480 640 "${@:2}" || fail "$name: cannot send $*"; }
        expect() { "$fbprobe" expect "$work/fb.raw" "$work/$1.png" "$bits" "$turn" 30 "${QUILVANE_E2E_KEEP:-$work}/$name-$1.png" \
            || fail "$name: the frame buffer never showed $1.png"
            # A transition's last frame looks like its end a frame before
            # the transition lets input through; the script's own input
            # comes 100 frames after its screenshots.
            sleep 1; }
        expect albums
        send touch tap:48,48
        expect menu
        send slots swipe:240,520,240,160,8
        expect swiped
        # The half touch around the drop is lost without a trace: the next
        # tap is the one that counts.
        send touch drop tap:125,190
        expect back
        kill -0 "$pid" || fail "$name: the program has gone"
        stop
    done
done

if [[ -n ${QUILVANE_E2E_KEEP:-} ]]; then
    cp "$work"/*.png "$QUILVANE_E2E_KEEP"/
fi

#!/usr/bin/env bash
# The viewer on one 96-megapixel picture (12000 x 8000), against peers
# measured in the same run:
#   - peak resident memory of the program opening the picture, zooming in
#     to full resolution and panning across it, against nsxiv and feh
#     showing the same picture (goal: at most a tenth of the better peer);
#   - time from the tap on its thumbnail to the first frame that shows the
#     picture in its own tiles, its cache built beforehand, against
#     `djpeg -scale 1/8` of the same picture (goal: at most 0.1 x).
# Called by bench/run; exits 1 when a goal is missed. Needs build/app
# (quilvane, quilvane-cache), build/tests/e2e/png_probe, djpeg, and for the
# memory peers nsxiv, feh, xvfb-run and GNU time (scripts/setup installs
# them).
set -euo pipefail
cd "$(dirname "$0")/.."

app=${QUILVANE_BUILD_DIR:-build}/app
probe=${QUILVANE_BUILD_DIR:-build}/tests/e2e/png_probe
for tool in "$app/quilvane" "$app/quilvane-cache" "$probe"; do
    [[ -x $tool ]] || { echo "== viewer: $tool not built"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
docs=$work/docs
mkdir -p "$docs/Big" "$work/cards"
picture=$docs/Big/big.jpg
"$probe" jpeg "$picture" 12000 8000 7
export QUILVANE_DOCUMENTS=$docs QUILVANE_CARDS=$work/cards QUILVANE_FOLDERS_INI=$work/folders.ini
export QUILVANE_REGISTRY=$work/registry.reg TMPDIR=$work XDG_RUNTIME_DIR=$work
printf '[HKEY_CURRENT_USER\\Software\\Zenk]\n"Log"=dword:00000001\n' > "$QUILVANE_REGISTRY"
"$app/quilvane-cache" search > /dev/null

now_ms() { echo $(($(date +%s%N) / 1000000)); }
median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

# The program at 480 x 640 (192 dpi): the album (row at 162), its picture
# (cell at 66, 164), then "btnPlus" (420, 580) until the full resolution,
# and drags across the picture.
script=$work/script.txt
{
    echo "wait_log 20000 WinMain 14"
    echo "wait 10"
    echo "tap 240 162"
    echo "wait 20"
    echo "tap 66 164"
    echo "wait_log 20000 image form: first full frame"
    for _ in 1 2 3 4 5 6; do
        echo "tap 420 580"
        echo "wait 40"
    done
    for y in 120 500 300; do
        echo "down 400 $y"
        for x in 320 240 160 80; do
            echo "wait_ms 30"
            echo "move $x $y"
        done
        echo "up 80 $y"
        echo "wait 30"
    done
} > "$script"

open_ms=()
rss_program=()
for run in 1 2 3 4 5; do
    rm -f "$work/quilvane.txt"
    QUILVANE_SCREEN=480x640@192 QUILVANE_DISPLAY=headless QUILVANE_SCRIPT=$script \
        /usr/bin/time -f %M -o "$work/rss" timeout 120 "$app/quilvane" > /dev/null 2>&1 || true
    rss_program+=("$(cat "$work/rss")")
    open_ms+=("$(iconv -f UTF-16 -t UTF-8 "$work/quilvane.txt" 2> /dev/null | awk '
        /^folder form: open .* at [0-9]+$/ { start = $NF }
        / image form: first full frame$/ { if (start && !done) { print $1 - start; done = 1 } }')")
done
program_kb=$(printf '%s\n' "${rss_program[@]}" | median)
program_open=$(printf '%s\n' "${open_ms[@]}" | median)

djpeg_ms=()
for _ in 1 2 3 4 5; do
    start=$(now_ms)
    djpeg -scale 1/8 "$picture" > /dev/null
    djpeg_ms+=($(($(now_ms) - start)))
done
djpeg_open=$(printf '%s\n' "${djpeg_ms[@]}" | median)

# peer_kb PROGRAM...: peak resident memory (KB) of a viewer given ten
# seconds in a virtual X server to load and show the picture.
peer_kb() {
    command -v "$1" > /dev/null && command -v xvfb-run > /dev/null || { echo 0; return; }
    xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/time -f %M -o "$work/peer_rss" \
        timeout 10 "$@" > /dev/null 2>&1 || true
    cat "$work/peer_rss" 2> /dev/null | tail -1 || echo 0
}
nsxiv_kb=$(peer_kb nsxiv "$picture")
feh_kb=$(peer_kb feh "$picture")

echo "== viewer on a 96-megapixel picture (12000 x 8000; medians of 5)"
awk -v p="$program_kb" -v n="$nsxiv_kb" -v f="$feh_kb" -v o="$program_open" -v d="$djpeg_open" 'BEGIN {
    bad = 0
    better = (n > 0 && (f <= 0 || n < f)) ? n : f
    printf "  peak memory: quilvane %d MB, nsxiv %d MB, feh %d MB\n", p / 1024, n / 1024, f / 1024
    if (n <= 0 || f <= 0) { printf "  %s could not be measured  ABOVE\n", (n <= 0 && f <= 0) ? "nsxiv and feh" : (n <= 0) ? "nsxiv" : "feh"; bad = 1 }
    if (better > 0) {
        r = p / better
        printf "  quilvane / better peer %.3f   goal <= 0.1%s\n", r, (r > 0.1) ? "  ABOVE" : ""
        bad = bad || r > 0.1
    } else {
        print "  no peer could be measured"; bad = 1
    }
    if (o == "" || d <= 0) { print "  open: missing figures"; exit 1 }
    r = o / d
    printf "  tap to first full frame %d ms, djpeg -scale 1/8 %d ms: %.3f x   goal <= 0.1%s\n", o, d, r, (r > 0.1) ? "  ABOVE" : ""
    exit (bad || r > 0.1)
}'

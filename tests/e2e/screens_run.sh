#!/usr/bin/env bash
# The album list, a thumbnail page and the viewer on five screens, from a
# 240 x 320 handheld at 96 dpi to a 1080 x 2340 phone at 420 dpi and a
# 1920 x 1080 desktop at 96 dpi, each against its reference screenshot in
# tests/e2e/reference/screens_*.png (QUILVANE_E2E_UPDATE=1 writes them
# instead): controls the same physical size, pictures at the screen's own
# density, the thumbnail grid across the whole width. The keys open the
# first album and its first picture, so the journey is the same on every
# screen.
quilvane=$1 probe=$2
source "$(dirname "$0")/common.sh"
export QUILVANE_DISPLAY=headless

mkdir -p "$QUILVANE_DOCUMENTS/Coast" "$QUILVANE_DOCUMENTS/Forest" "$QUILVANE_DOCUMENTS/Zoo"
for i in 1 2 3 4 5 6 7 8 9; do
    "$probe" jpeg "$QUILVANE_DOCUMENTS/Coast/c$i.jpg" 1600 1200 "$i" || fail "test picture"
done
"$probe" jpeg "$QUILVANE_DOCUMENTS/Forest/f1.jpg" 1200 1600 11 || fail "test picture"
"$probe" jpeg "$QUILVANE_DOCUMENTS/Forest/f2.jpg" 800 600 12 || fail "test picture"
"$probe" jpeg "$QUILVANE_DOCUMENTS/Zoo/z1.jpg" 640 480 13 || fail "test picture"
# The album list and every cache file, built before any screen is drawn.
"$(dirname "$quilvane")/quilvane-cache" search > "$work/search.txt" || fail "the search failed"

for screen in 240x320@96 480x640@192 720x1280@320 1080x2340@420 1920x1080@96; do
    tag=${screen//[x@]/_}
    cat > "$work/$tag.txt" <<SCRIPT
wait_for 30000 started
wait 30
screenshot $work/albums_$tag.png
key Enter
wait_log 30000 folder form:
wait 60
screenshot $work/thumbnails_$tag.png
key Enter
wait_for 30000 first_full_frame
wait 30
screenshot $work/viewer_$tag.png
SCRIPT
    QUILVANE_SCREEN=$screen run_script "$tag"
    width=${screen%%x*}
    rest=${screen#*x}
    height=${rest%@*}
    for shot in albums thumbnails viewer; do
        "$probe" size "$work/${shot}_$tag.png" "$width" "$height" || fail "${shot}_$tag.png size"
        same_as_reference screens "${shot}_$tag"
    done
done

#!/usr/bin/env bash
# Start-up that cannot go on ends in order with its message: no language
# file, no skin, and a skin without the splash screen's form or without the
# first screen's.
quilvane=$1 skinc=$2 assets=$3
source "$(dirname "$0")/common.sh"
export QUILVANE_DISPLAY=headless

# An application directory with the executable and what is asked for.
make_app() {
    local dir=$work/$1
    mkdir -p "$dir/skins/bin"
    cp "$quilvane" "$dir/quilvane"
    echo "$dir"
}

expect_message() {
    local dir=$1 text=$2
    local out status=0
    out=$(timeout 30 "$dir/quilvane" 2>&1 > /dev/null) || status=$?
    [[ $status == 0 ]] || fail "$dir: exit $status"
    grep -qF -- "$text" <<< "$out" || fail "$dir: message was: $out"
}

dir=$(make_app nolang)
expect_message "$dir" "No languages, please reinstall"
expect_message "$dir" "Не найдены языковые файлы, нужна переустановка"

dir=$(make_app noskin)
cp "$(dirname "$quilvane")/english.lng" "$dir/"
expect_message "$dir" "The skin is missing or damaged, please reinstall"

# The default skin with one form left out.
without_form() {
    local form=$1 name=$2
    local dir
    dir=$(make_app "$name")
    cp "$(dirname "$quilvane")/english.lng" "$dir/"
    awk -v form="$form" '/^form /{skip = ($2 == form)} !skip' "$assets/skin/default.txt" > "$work/$name.txt"
    "$skinc" "$work/$name.txt" "$assets/skin/pictures" "$dir/skins/bin" > /dev/null || fail "skinc $name"
    echo "$dir"
}

dir=$(without_form Splash nosplash)
expect_message "$dir" "The skin is missing or damaged, please reinstall"
dir=$(without_form Main nomain)
expect_message "$dir" "The skin is missing or damaged, please reinstall"
# A window asked for where no display answers: SDL would fall back to a
# driver that shows nothing, and the program would run on unseen. It must
# end with its message instead.
display=4242
while [[ -e /tmp/.X$display-lock || -e /tmp/.X11-unix/X$display ]]; do display=$((display + 1)); done
out=$(QUILVANE_DISPLAY=window DISPLAY=:$display WAYLAND_DISPLAY= SDL_VIDEODRIVER= timeout 30 "$quilvane" 2>&1 > /dev/null) &&
    fail "a window without a display: exit 0"
[[ $? != 124 ]] || fail "a window without a display: still running after 30 s"
grep -qF "No window can be opened" <<< "$out" || fail "a window without a display: message was: $out"
echo "e2e_start_failures: ok"

# Shared set-up of the whole-program tests: a private temporary directory
# that holds the registry (with the log switched on), the log file, the
# single-instance lock and socket, the pictures and the album list.
set -euo pipefail

work=$(mktemp -d)
trap '[[ -n ${QUILVANE_E2E_DEBUG:-} ]] && iconv -f UTF-16 -t UTF-8 "$work"/quilvane.txt | grep -v "picture load\|sizeof\|Size=\|font" >&2; rm -rf "$work"' EXIT
export QUILVANE_REGISTRY=$work/registry.reg
export TMPDIR=$work
export XDG_RUNTIME_DIR=$work
export QUILVANE_SCREEN=480x640@192
# The pictures the program finds and the album list it keeps: empty and
# private unless a test puts something there.
export QUILVANE_DOCUMENTS=$work/docs
export QUILVANE_CARDS=$work/card
export QUILVANE_FOLDERS_INI=$work/folders.ini
# Caches and data go to the test's own directory, never the real home.
export XDG_CACHE_HOME=$work/cache
export XDG_DATA_HOME=$work/data
mkdir -p "$QUILVANE_DOCUMENTS" "$QUILVANE_CARDS"
printf '[HKEY_CURRENT_USER\\Software\\Zenk]\n"Log"=dword:00000001\n' > "$QUILVANE_REGISTRY"

# Leaves the album list to the search button: no watching of the folders
# and no quiet update at start-up, for tests of what a search does.
search_button_only() {
    printf '"WatchFolders"=dword:00000000\n' >> "$QUILVANE_REGISTRY"
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The log as UTF-8 text; the program writes it as UTF-16.
log_text() {
    local log=$work/$(basename "$1").txt
    [[ -f $log ]] || fail "no log file $log"
    iconv -f UTF-16 -t UTF-8 "$log"
}

# log_has PROGRAM TEXT: the log, as far as written, holds TEXT. The log is
# read whole first: a reader cut short by grep -q, or a last character
# only half written, must not count as a miss under pipefail.
log_has() {
    log_text "$1" > "$work/.log_now" 2> /dev/null || true
    grep -qF -- "$2" "$work/.log_now"
}

# Checks that the start-up markers appear in the one order start-up has.
check_markers() {
    local got expected
    got=$(log_text "$1" | sed -n -E 's/^[0-9]+((WinMain|WindMain| GameBase) [0-9]+)$/\1/p' | tr '\n' ',')
    expected="WinMain 0,WindMain 1, GameBase 0, GameBase 1, GameBase 2, GameBase 3, GameBase 4, GameBase 5,"
    expected+="WinMain 2,WinMain 3,WinMain 4,WinMain 5,WinMain 6,WinMain 7,WinMain 9,WinMain 10,"
    expected+="WinMain 11,WinMain 12,WinMain 13,WinMain 14,WinMain 8,"
    [[ $got == "$expected" ]] || fail "marker order: $got"
}

# broken_jpeg FILE: a JPEG start followed by noise, found like any picture
# and never decodable.
broken_jpeg() {
    { printf '\xff\xd8\xff\xe0'; head -c 2000 /dev/zero | tr '\0' '\125'; } > "$1"
}

# run_script NAME: the program ($quilvane) with $work/NAME.txt as its
# script; the exit code must be 0; the log is kept as $work/NAME.log.
run_script() {
    rm -f "$work/quilvane.txt"
    QUILVANE_SCRIPT=$work/$1.txt timeout 120 "$quilvane" "${@:2}" || fail "$1: exit code $?"
    log_text "$quilvane" > "$work/$1.log"
}

# same_as_reference PREFIX SHOT [X Y W H]...: $work/SHOT.png matches
# tests/e2e/reference/PREFIX_SHOT.png ($probe compare), leaving out the
# frame-time overlay in the top-left corner and the rectangles given.
# QUILVANE_E2E_UPDATE=1 writes the reference instead.
e2e_references=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/reference
same_as_reference() {
    local got=$work/$2.png want=$e2e_references/$1_$2.png
    if [[ -n ${QUILVANE_E2E_UPDATE:-} ]]; then
        mkdir -p "$e2e_references"
        cp "$got" "$want"
        return
    fi
    # QUILVANE_E2E_SHOTS=DIR keeps every screenshot compared with its
    # reference, by the reference's name: to compare two runs.
    [[ -z ${QUILVANE_E2E_SHOTS:-} ]] || cp "$got" "$QUILVANE_E2E_SHOTS/$1_$2.png"
    [[ -f $want ]] || fail "no reference $want"
    "$probe" compare "$got" "$want" 1.5 0 0 160 24 "${@:3}" || fail "$2.png differs from its reference"
}

# window_of_app PID: the program's window id once it shows, up to 30 s (a
# machine busy with other tests starts the program slowly); a program whose
# window never came is ended with the test.
window_of_app() {
    local window=
    for _ in $(seq 300); do
        window=$(xdotool search --name '^Quilvane$' 2> /dev/null | head -1 || true)
        [[ -n $window ]] && break
        sleep 0.1
    done
    if [[ -z $window ]]; then
        kill "$1" 2> /dev/null
        log_text "$quilvane" | tail -20 >&2 || true
        fail "no window"
    fi
    echo "$window"
}

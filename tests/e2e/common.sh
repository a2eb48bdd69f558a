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
mkdir -p "$QUILVANE_DOCUMENTS" "$QUILVANE_CARDS"
printf '[HKEY_CURRENT_USER\\Software\\Zenk]\n"Log"=dword:00000001\n' > "$QUILVANE_REGISTRY"

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

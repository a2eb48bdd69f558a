#!/usr/bin/env bash
# with_xvfb.sh SCREEN COMMAND...: COMMAND under an X server of its own
# (Xvfb, SCREEN as "WIDTHxHEIGHTxDEPTH"), with DISPLAY and XAUTHORITY set;
# its exit code is COMMAND's.
#
# Not xvfb-run -a: that takes the first display number from :99 up whose
# lock file is gone, and does not wait for its server to end, so a test may
# start on the number of a server that is still shutting down. Here the
# number comes from this process's id, so numbers are not reused within a
# run, and the server is waited for until it has gone.
set -euo pipefail
screen=$1
shift

auth=$(mktemp)
errors=$(mktemp)
xvfb=
cleanup() {
    if [[ -n $xvfb ]]; then
        kill "$xvfb" 2> /dev/null || true
        wait "$xvfb" 2> /dev/null || true
    fi
    rm -f "$auth" "$errors"
}
trap cleanup EXIT

number=$((1000 + $$ % 30000))
for _ in $(seq 20); do
    if [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]]; then
        number=$((number + 1))
        continue
    fi
    xauth -q -f "$auth" add ":$number" . "$(mcookie)"
    Xvfb ":$number" -screen 0 "$screen" -nolisten tcp -auth "$auth" 2>> "$errors" &
    xvfb=$!
    # Ready once a client gets through; gone means another server won the
    # number after all.
    for _ in $(seq 300); do
        kill -0 "$xvfb" 2> /dev/null || break
        DISPLAY=:$number XAUTHORITY=$auth xdotool getdisplaygeometry > /dev/null 2>&1 && break 2
        sleep 0.1
    done
    kill "$xvfb" 2> /dev/null || true
    wait "$xvfb" 2> /dev/null || true
    xvfb=
    number=$((number + 1))
done
if [[ -z $xvfb ]]; then
    echo "with_xvfb: no X server could be started" >&2
    cat "$errors" >&2
    exit 1
fi

status=0
DISPLAY=:$number XAUTHORITY=$auth "$@" || status=$?
[[ $status == 0 || $status == 77 ]] || { echo "with_xvfb: the server said:" >&2; cat "$errors" >&2; }
exit $status

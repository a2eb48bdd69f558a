#!/usr/bin/env bash
# Every program of the package answers --help and --version and refuses an
# option it does not know with status 2, and none of the three makes or
# writes anything: run in an empty folder, it stays empty.
app=$1 version=$2
source "$(dirname "$0")/common.sh"

mkdir "$work/here"
cd "$work/here"
for program in quilvane quilvane-cache quilvane-samples quilvane-skin-preview skinc; do
    out=$(timeout 30 "$app/$program" --help) || fail "$program --help: exit $?"
    grep -q "usage\|Usage" <<< "$out" || fail "$program --help printed: $out"
    out=$(timeout 30 "$app/$program" --version) || fail "$program --version: exit $?"
    [[ $out == "$program $version" ]] || fail "$program --version printed: $out"
    status=0
    timeout 30 "$app/$program" --no-such-option somewhere > /dev/null 2> "$work/err" || status=$?
    [[ $status == 2 ]] || fail "$program --no-such-option: exit $status"
    grep -q -- "--no-such-option" "$work/err" || fail "$program does not name the option: $(cat "$work/err")"
    [[ -z $(ls -A) ]] || fail "$program left: $(ls -A)"
done
# After "--" the arguments are the program's own: skinc gets its three and
# fails on the missing source (1), not on its usage (2).
status=0
timeout 30 "$app/skinc" -- "$work/no-such.txt" "$work" "$work/out" 2> /dev/null || status=$?
[[ $status == 1 ]] || fail "skinc -- SOURCE PICTURES OUT: exit $status"
echo "every program answers --help and --version and refuses unknown options"

#!/usr/bin/env bash
# A second start hands its pictures and folders to the running instance, as
# full paths, and ends with 0 (none arrive as none); a second start
# whose running instance does not answer gives up after 5 seconds and
# starts by itself.
quilvane=$1
source "$(dirname "$0")/common.sh"
export QUILVANE_DISPLAY=headless

wait_for_log() {
    local text=$1
    for _ in $(seq 150); do
        if [[ -f $work/quilvane.txt ]] && log_has "$quilvane" "$text"; then
            return 0
        fi
        sleep 0.1
    done
    fail "log never showed: $text"
}

# What a second start hands over: names of files, which must exist.
touch "$work/two" "$work/words"
cat > "$work/first.txt" <<SCRIPT
wait_log 30000 album form: command line, 2 paths
wait_log 30000 album form: command line, 0 paths
SCRIPT
QUILVANE_SCRIPT=$work/first.txt timeout 60 "$quilvane" &
first=$!
wait_for_log "WinMain 14"

# The later starts log elsewhere: each start begins its log file afresh.
mkdir -p "$work/second"
(cd "$work/second" && TMPDIR=$work/second timeout 20 "$quilvane" ../two "$work/words") || fail "second start with a command line: exit $?"
TMPDIR=$work/second timeout 20 "$quilvane" || fail "second start without a command line: exit $?"
wait $first || fail "first instance: exit $?"
log=$(log_text "$quilvane")
grep -qF "album form: open [$work/two]" <<< "$log" || fail "relative path not handed over in full"
grep -qF "album form: open [$work/words]" <<< "$log" || fail "second path not handed over"
grep -qF "album form: command line, 0 paths" <<< "$log" || fail "empty command line not handed over"
[[ $(grep -c "^[0-9]* GameBase 0$" <<< "$log") == 1 ]] || fail "a second start made a window"

# The running instance stops answering; the next start must not hang.
rm -f "$work/quilvane.txt"
echo "wait_log 60000 never written" > "$work/stuck.txt"
QUILVANE_SCRIPT=$work/stuck.txt "$quilvane" &
stuck=$!
wait_for_log "WinMain 14"
kill -STOP $stuck
echo "wait_for 30000 started" > "$work/after.txt"
start=$(date +%s)
QUILVANE_SCRIPT=$work/after.txt TMPDIR=$work/second timeout 40 "$quilvane" "$work/two"
status=$?
elapsed=$(( $(date +%s) - start ))
kill -KILL $stuck 2>/dev/null || true
wait $stuck 2>/dev/null || true
[[ $status == 0 ]] || fail "start after a hung instance: exit $status"
(( elapsed >= 4 && elapsed < 30 )) || fail "gave up after $elapsed s"
# Read whole first: grep -q ending the pipe early would fail it under pipefail.
after=$(iconv -f UTF-16 -t UTF-8 "$work/second/quilvane.txt")
grep -q "gave up waiting for the running instance" <<< "$after" || fail "no give-up line"
# A missing file or an unknown option is told at once, before any window
# or hand-over, with exit code 2; --help and --version answer on standard
# output.
rm -f "$work/quilvane.txt"
for wrong in "$work/gone.jpg" --no-such-option; do
    status=0
    message=$(timeout 20 "$quilvane" "$wrong" 2>&1 > /dev/null) || status=$?
    [[ $status == 2 ]] || fail "$wrong: exit $status, not 2"
    [[ $(wc -l <<< "$message") == 1 && $message == *"$wrong"* ]] || fail "$wrong: said [$message]"
done
[[ ! -f $work/quilvane.txt ]] || fail "a refused start went on to log"
timeout 20 "$quilvane" --version | grep -qx "quilvane [0-9.]*" || fail "--version"
timeout 20 "$quilvane" --help | grep -q "^Usage: quilvane" || fail "--help"
echo "e2e_instance: ok"

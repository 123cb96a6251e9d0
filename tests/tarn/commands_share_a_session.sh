#!/usr/bin/env bash
# Runs ./tarn commands the way a user does, and checks what the user sees:
#  - help of the stand-in tool prints without a build or a session;
#  - a script watching COM21's lines (./tarn script, in the background) sees
#    CTS change when a second command, ./tarn standin serial line COM21 cts on,
#    forces it: the second command joins the first one's session instead of
#    ending it, and the script ends with its own last line and exit code 0;
#  - a ./tarn command killed outright leaves no lock behind.
set -uo pipefail
root="${TARN_ROOT:?}"
cd "$root"
work="$(mktemp -d)"
trap 'rm -rf "$work"; ./tarn standin serial line COM21 cts wired >/dev/null 2>&1' EXIT
failures=0
check() {   # check WHAT COMMAND...: a failed check says what and goes on
    local what="$1"; shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
has_line() { grep -qxF -- "$2" <(tr -d '\r' < "$1"); }
has_process() { pgrep -f "$1" >/dev/null; }
no_process() { ! has_process "$1"; }
# wait_for FILE PATTERN PID: until a background command's output has the line,
# or the command has ended (at most three minutes).
wait_for() {
    for _ in $(seq 1 1800); do
        grep -q "$2" "$1" && return 0
        kill -0 "$3" 2>/dev/null || return 0
        sleep 0.1
    done
}

# Help: a build folder that does not exist stays empty, so nothing was built,
# no prefix made and no session started.
empty="$work/no-build"
mkdir -p "$empty"
for args in "standin" "standin help" "standin serial help" "standin usb help"; do
    rc=0
    # shellcheck disable=SC2086
    TARN_BUILD="$empty" ./tarn $args > "$work/help.out" 2>&1 || rc=$?
    check "./tarn $args exits 0" [ "$rc" -eq 0 ]
    check "./tarn $args prints its usage" grep -q '^usage: standin' "$work/help.out"
done
check "help needed no build, prefix or session" [ -z "$(ls -A "$empty")" ]

# The pair of commands.
./tarn script examples/watch_lines.vbs > "$work/script.out" 2>&1 &
script_pid=$!
wait_for "$work/script.out" '^watching COM21' "$script_pid"
check "the script is watching COM21" grep -q '^watching COM21: CTS=off' "$work/script.out"
standin_rc=0
./tarn standin serial line COM21 cts on > "$work/standin.out" 2>&1 || standin_rc=$?
script_rc=0
wait "$script_pid" || script_rc=$?
echo "--- ./tarn standin serial line COM21 cts on (exit $standin_rc):"; cat "$work/standin.out"
echo "--- ./tarn script examples/watch_lines.vbs (exit $script_rc):"; cat "$work/script.out"
echo "---"
check "the stand-in command says what it did" has_line "$work/standin.out" "COM21: CTS on"
check "the stand-in command joined the running session" grep -q 'joining the running session' "$work/standin.out"
check "the script saw the change" has_line "$work/script.out" "CTS on"
check "the script ended with its last line" \
    [ "$(tr -d '\r' < "$work/script.out" | tail -n 1)" = "seen the change of CTS; done" ]
check "the script exited 0" [ "$script_rc" -eq 0 ]

# Killed outright, a command's lock holders follow it within a second or two.
./tarn session > "$work/session.out" 2>&1 &
session_pid=$!
wait_for "$work/session.out" 'session open' "$session_pid"
check "./tarn session holds a session" has_process "tail --pid=$session_pid"
kill -KILL "$session_pid"
sleep 3
check "a killed command's locks are gone" no_process "tail --pid=$session_pid"

echo "$failures check(s) failed"
[ "$failures" -eq 0 ]

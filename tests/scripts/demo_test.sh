#!/usr/bin/env bash
# The demo's end, with a stand-in for the window: closed normally, the demo ends with status 0;
# interrupted with Ctrl-C (or SIGINT to the script alone), with 130; without a display it
# talks to the detector with kl395-cli and ends with 0. In every case no process of the demo
# outlives it and its temporary folder is gone.
# Run: tests/scripts/demo_test.sh BUILD_DIR (with kl395-sim and kl395-cli built there)
set -euo pipefail
build=$(cd "$1" && pwd)
demo_script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/demo.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Each demo runs in a process group of its own, which a Ctrl-C reaches as a whole, and with
# SIGINT not ignored, as when it is started from a terminal.
set -m

# The stand-in window: notes whether the detector answers on COM1, then stays up for the
# given time, or until it is ended.
window="$scratch/window"
cat >"$window" <<'WINDOW'
#!/usr/bin/env bash
"$KL395_BUILD_DIR/tools/cli/kl395-cli" read-status >/dev/null 2>&1
echo "detector answered: $?" >"$DEMO_TEST_NOTES"
exec sleep "$DEMO_TEST_WINDOW_SECONDS"
WINDOW
chmod +x "$window"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Starts the demo in the background with the given display, the stand-in window open for
# the given seconds, and its temporary files in a folder of the test's.
start_demo() {
  local display=$1 seconds=$2
  rm -rf "$scratch/tmp" "$scratch/notes"
  mkdir "$scratch/tmp"
  env -u WAYLAND_DISPLAY DISPLAY="$display" TMPDIR="$scratch/tmp" KL395_BUILD_DIR="$build" \
    KL395_DEMO_SKIP_SETUP=1 KL395_DEMO_WINDOW="$window" DEMO_TEST_NOTES="$scratch/notes" \
    DEMO_TEST_WINDOW_SECONDS="$seconds" "$demo_script" >"$scratch/output" 2>&1 &
  demo=$!
}

wait_for_window() {
  for _ in $(seq 200); do
    [ -s "$scratch/notes" ] && return 0
    sleep 0.1
  done
  fail "the window did not come up"
}

# Waits for the demo's end, killing its whole group after 30 s, and checks its status and
# what it left behind.
expect_end() {
  local case=$1 expected=$2 status=0
  (sleep 30 && kill -KILL -- "-$demo") 2>/dev/null &
  local watchdog=$!
  wait "$demo" 2>/dev/null || status=$?
  kill -- "-$watchdog" 2>/dev/null || true
  wait "$watchdog" 2>/dev/null || true
  [ "$status" = "$expected" ] || fail "$case: status $status, not $expected"
  local left
  left=$(pgrep -a -g "$demo" || true)
  [ -z "$left" ] || fail "$case: processes left behind:"$'\n'"$left"
  [ -z "$(ls -A "$scratch/tmp")" ] || fail "$case: left $(ls "$scratch/tmp") in its temporary folder"
  if [ "$failures" -gt 0 ]; then
    echo "--- the demo's output ($case):"
    cat "$scratch/output"
  fi
}

start_demo :0 1
wait_for_window
grep -qx "detector answered: 0" "$scratch/notes" || fail "no detector on COM1: $(cat "$scratch/notes")"
expect_end "window closed" 0

start_demo :0 60
wait_for_window
kill -INT -- "-$demo"
expect_end "Ctrl-C" 130

start_demo :0 60
wait_for_window
kill -INT "$demo"
expect_end "SIGINT to the script" 130

start_demo "" 0
expect_end "no display" 0
grep -q "^\$ kl395-cli read-status" "$scratch/output" || fail "no display: kl395-cli did not run"

[ "$failures" -eq 0 ] && echo "all demo cases passed"
exit $((failures > 0))

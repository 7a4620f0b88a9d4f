#!/usr/bin/env bash
# Sets up a fresh machine, builds, starts the detector simulator on a pseudo-terminal linked
# as COM1, and opens the window on it. Without a display, shows the simulated detector
# through the command-line tool instead. It ends when the window is closed (status 0) or on
# Ctrl-C, and leaves no process or temporary file behind either way.
#
# For trying the script itself: KL395_BUILD_DIR names the build folder (default build),
# KL395_DEMO_SKIP_SETUP=1 uses the programs already built there, and KL395_DEMO_WINDOW names
# the program to run as the window.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${KL395_BUILD_DIR:-build}
window_program=${KL395_DEMO_WINDOW:-$build/ui/qt/kl395}

if [ "${KL395_DEMO_SKIP_SETUP:-0}" != 1 ]; then
  scripts/install-deps.sh
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j"$(nproc)" --target kl395 kl395-sim kl395-cli
fi

# Stops a background job and waits for its end; nothing when it never started or has ended.
stop_job() {
  if [ -n "$1" ]; then
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
  fi
}

work="" sim="" changes="" window=""
# Runs to its end whatever fails on the way, and a second Ctrl-C does not cut it short; the
# demo keeps the status it was ending with.
cleanup() {
  set +e
  trap '' INT TERM HUP
  stop_job "$window"
  stop_job "$changes"
  stop_job "$sim"  # the simulator ends cleanly on SIGTERM, even before its input is open
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# A private ports folder, so the demo never touches the user's own COM links.
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work
sim_input="$work/sim-input"
mkfifo "$sim_input"
"$build/tools/sim/kl395-sim" --com 1 --address 1 --baud 9600 <"$sim_input" >"$work/sim.log" &
sim=$!
exec 3>"$sim_input"  # keeps the simulator's standard input open for the commands below
until [ -L "$work/kl395/ports/com1" ]; do
  if ! kill -0 "$sim" 2>/dev/null; then
    echo "The simulated detector did not start." >&2
    exit 1
  fi
  sleep 0.1
done
echo "Simulated detector: address 1, 9600 baud, on $(head -n 1 "$work/sim.log"), linked as COM1"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # The detector's state changes every few seconds, so acquisition shows the lamps change.
  # Its pause is a job of its own, ended with it, so that no sleep outlives the demo.
  (
    pause=""
    trap 'stop_job "$pause"; exit 0' TERM
    while true; do
      for state in "leak 1" "alarm 1" "alarm 3" "leak 0" "alarm 2" "alarm 0"; do
        sleep 4 &
        pause=$!
        wait "$pause"
        echo "$state" >&3
      done
    done
  ) &
  changes=$!
  echo "Opening the window. Press 开始采集 to watch the lamps; close the window to end the demo."
  # In the background, so that a Ctrl-C or SIGTERM for the demo is acted on at once.
  "$window_program" 3>&- &
  window=$!
  wait "$window"
  window=""
  exit 0
fi

echo "No display for the window: talking to the simulated detector with kl395-cli instead."
cli=$build/tools/cli/kl395-cli
run() {
  echo "\$ kl395-cli $*"
  "$cli" "$@" || echo "(exit status $?)"
}
run read-version
run read-sensitivity
run read-voltage
run read-status
echo "-- the detector reports a leak and both alarms --"
echo "leak 1" >&3
echo "alarm 3" >&3
sleep 0.2
run read-status
run set-sensitivity 1
run read-sensitivity

#!/usr/bin/env bash
# Sets up a fresh machine, builds, starts the detector simulator on a pseudo-terminal linked
# as COM1, and opens the window on it. Without a display, shows the simulated detector
# through the command-line tool instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target kl395 kl395-sim kl395-cli

# A private ports folder, so the demo never touches the user's own COM links.
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
sim_input="$XDG_CONFIG_HOME/sim-input"
mkfifo "$sim_input"
build/tools/sim/kl395-sim --com 1 --address 1 --baud 9600 <"$sim_input" \
  >"$XDG_CONFIG_HOME/sim.log" &
sim=$!
exec 3>"$sim_input"  # keeps the simulator's standard input open for the commands below
changes=""
cleanup() {
  if [ -n "$changes" ]; then
    kill "$changes" 2>/dev/null
    wait "$changes" 2>/dev/null
  fi
  echo quit >&3
  wait "$sim" 2>/dev/null
  rm -rf "$XDG_CONFIG_HOME"
}
trap cleanup EXIT
until [ -L "$XDG_CONFIG_HOME/kl395/ports/com1" ]; do sleep 0.1; done
echo "Simulated detector: address 1, 9600 baud, on $(head -n 1 "$XDG_CONFIG_HOME/sim.log"), linked as COM1"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # The detector's state changes every few seconds, so acquisition shows the lamps change.
  (
    while sleep 4; do
      for state in "leak 1" "alarm 1" "alarm 3" "leak 0" "alarm 2" "alarm 0"; do
        echo "$state" >&3
        sleep 4
      done
    done
  ) &
  changes=$!
  echo "Opening the window. Press 开始采集 to watch the lamps; close the window to end the demo."
  build/ui/qt/kl395
  exit 0
fi

echo "No display for the window: talking to the simulated detector with kl395-cli instead."
cli=build/tools/cli/kl395-cli
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

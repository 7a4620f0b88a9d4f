#!/usr/bin/env bash
# Sets up a fresh machine, builds, starts the detector simulator on a pseudo-terminal
# linked as COM1, and talks to it with the command-line tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKL395_TESTS=OFF -DKL395_BENCH=OFF
cmake --build build -j"$(nproc)" --target kl395-sim kl395-cli

# A private ports folder, so the demo never touches the user's own COM links.
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
sim_input="$XDG_CONFIG_HOME/sim-input"
mkfifo "$sim_input"
build/tools/sim/kl395-sim --com 1 --address 1 --baud 9600 <"$sim_input" >"$XDG_CONFIG_HOME/sim.log" &
sim=$!
exec 3>"$sim_input"  # keeps the simulator's standard input open for the commands below
trap 'echo quit >&3; wait $sim 2>/dev/null; rm -rf "$XDG_CONFIG_HOME"' EXIT
until [ -L "$XDG_CONFIG_HOME/kl395/ports/com1" ]; do sleep 0.1; done
echo "Simulated detector on $(head -n 1 "$XDG_CONFIG_HOME/sim.log"), linked as COM1"

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

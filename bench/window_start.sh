#!/usr/bin/env bash
# Time from start to the window shown, and the program's peak memory, under Xvfb.
# Needs a build in build/ and x11-utils (xwininfo). Run: bench/window_start.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}

session=$(mktemp)
trap 'rm -f "$session"' EXIT
cat >"$session" <<'SESSION'
set -euo pipefail
now_ms() { date +%s%3N; }
for _ in $(seq "$RUNS"); do
  start=$(now_ms)
  build/ui/qt/kl395 2>/dev/null &
  pid=$!
  until xwininfo -root -tree 2>/dev/null | grep -q '"KL-395"'; do
    kill -0 "$pid" 2>/dev/null || { echo "kl395 ended before its window showed" >&2; exit 1; }
    sleep 0.005
  done
  shown=$(( $(now_ms) - start ))
  sleep 1  # let it settle before reading its peak
  peak=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "$shown $peak"
done
SESSION
RUNS=$runs xvfb-run -a bash "$session" | sort -n | awk '
  { shown[NR] = $1; peak[NR] = $2 }
  END {
    printf "start to window shown, median of %d: %d ms (fastest %d, slowest %d)\n",
           NR, shown[int((NR + 1) / 2)], shown[1], shown[NR]
    printf "peak memory (VmHWM): %.1f MiB\n", peak[int((NR + 1) / 2)] / 1024
  }'

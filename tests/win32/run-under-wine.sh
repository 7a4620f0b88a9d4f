#!/usr/bin/env bash
# Runs the Windows build's tests under Wine against simulated detectors.
#
#   tests/win32/run-under-wine.sh WINDOWS_BUILD LINUX_BUILD [--bench] [--screenshot FILE.png]
#
# WINDOWS_BUILD is a cross build (cmake/mingw-w64.cmake) with its tests, LINUX_BUILD a native
# build with kl395-sim. Every run gets a fresh Wine prefix, the Simplified Chinese locale (under
# C.UTF-8 Wine draws every Chinese glyph as a box) and a virtual display. The simulators'
# terminals become the COM numbers of tests/win32/wine_ports.h, and every other COM number up
# to 12 leads to no device, so that no test ever opens a real port. --bench runs the exchange
# benchmark instead of the tests; --screenshot takes a picture of KL395.exe's window instead.
set -euo pipefail

usage() {
  echo "usage: $0 WINDOWS_BUILD LINUX_BUILD [--bench] [--screenshot FILE.png]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
windows_build=$(realpath "$1")
linux_build=$(realpath "$2")
shift 2
mode=tests
screenshot=""
while [ $# -gt 0 ]; do
  case "$1" in
    --bench) mode=bench ;;
    --screenshot) mode=screenshot; screenshot=$(realpath -m "${2:?--screenshot needs a file}"); shift ;;
    *) usage ;;
  esac
  shift
done

sim="$linux_build/tools/sim/kl395-sim"
program="$windows_build/ui/win32/KL395.exe"
for file in "$sim" "$program"; do
  [ -x "$file" ] || { echo "$0: $file is missing; build it first" >&2; exit 2; }
done

# shellcheck source=tests/win32/wine-prefix.sh
. "$(dirname "$0")/wine-prefix.sh"

# Everything below runs on one virtual display of its own.
args=("$windows_build" "$linux_build")
[ "$mode" = bench ] && args+=(--bench)
[ "$mode" = screenshot ] && args+=(--screenshot "$screenshot")
wine_own_display "$0" "${args[@]}"

run=$(mktemp -d /tmp/kl395-wine.XXXXXX)
ports="$run/ports"
mkdir "$ports"

sims=()
stop_everything() {
  # The Wine server first: it holds the terminals, and their closing would make it print
  # thousands of lines.
  wine_server_stop
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$run"
}
trap stop_everything EXIT

echo "== Wine prefix (the first start takes a while) =="
wine_prefix_create "$run" "$ports"

# The simulated detectors, as tests/win32/wine_ports.h lists them.
start_sim() {
  local com=$1
  shift
  "$sim" --com "$com" --ports-dir "$ports" "$@" </dev/null >"$run/sim$com.out" 2>"$run/sim$com.err" &
  sims+=($!)
}
if [ "$mode" = tests ]; then
  # The tests do not time the line; the benchmark and the screenshot keep its real time.
  start_sim 1 --instant --address 1 --baud 9600 --version 10 --sensitivity 2 --voltage 124
  start_sim 3 --instant --leak 1 --alarm 1
  start_sim 4 --instant
  start_sim 5 --instant --fault stray
  start_sim 6 --instant --fault bytewise
  start_sim 12 --instant --address 5 --baud 19200
elif [ "$mode" = screenshot ]; then
  start_sim 1 --leak 1 --alarm 1  # as on the Linux screenshot
else
  start_sim 1
fi
linked=${#sims[@]}

# The network lines' servers, on loopback only: ser2net in front of two more simulated
# detectors (not COM ports) in RFC 2217 and raw mode, and the libmodbus Modbus TCP peer.
free_port() {
  local port=$1
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
  echo "$port"
}
# The first line a program writes to FILE, within ten seconds.
first_line() {
  local file=$1 deadline=$((SECONDS + 10))
  until [ -s "$file" ]; do
    [ $SECONDS -lt $deadline ] || { echo "$0: nothing in $file" >&2; return 1; }
    sleep 0.1
  done
  head -1 "$file"
}
if [ "$mode" = tests ]; then
  "$sim" --baud 19200 --version 11 </dev/null >"$run/telnet-sim.out" 2>&1 &
  sims+=($!)
  "$sim" --version 12 </dev/null >"$run/raw-sim.out" 2>&1 &
  sims+=($!)
  "$linux_build/tests/peers/kl395-modbus-tcp-peer" >"$run/peer.out" 2>&1 &
  sims+=($!)
  telnet_port=$(free_port 42170)
  raw_port=$(free_port $((telnet_port + 1)))
  {
    echo "connection: &telnet"
    echo "  accepter: telnet(rfc2217),tcp,127.0.0.1,$telnet_port"
    echo "  connector: serialdev,$(first_line "$run/telnet-sim.out"),9600n81,local"
    echo "connection: &raw"
    echo "  accepter: tcp,127.0.0.1,$raw_port"
    echo "  connector: serialdev,$(first_line "$run/raw-sim.out"),9600n81,local"
  } >"$run/ser2net.yaml"
  ser2net -n -d -c "$run/ser2net.yaml" -P "$run/ser2net.pid" >"$run/ser2net.log" 2>&1 &
  sims+=($!)
  export KL395_RFC2217_URL="rfc2217://127.0.0.1:$telnet_port"
  export KL395_SOCKET_URL="socket://127.0.0.1:$raw_port"
  KL395_MODBUS_TCP_URL="tcp://$(first_line "$run/peer.out")"
  export KL395_MODBUS_TCP_URL
  deadline=$((SECONDS + 10))
  until (exec 3<>"/dev/tcp/127.0.0.1/$raw_port") 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || { cat "$run/ser2net.log" >&2; echo "$0: ser2net did not start" >&2; exit 1; }
    sleep 0.1
  done
fi

deadline=$((SECONDS + 10))
while [ "$(find "$ports" -type l | wc -l)" -lt "$linked" ]; do
  [ $SECONDS -lt $deadline ] || { cat "$run"/sim*.err >&2; echo "$0: the simulators did not start" >&2; exit 1; }
  sleep 0.1
done

wine_server_start "$ports"

windows_path() {
  local path=$1
  echo "Z:${path//\//\\}"
}

# Runs a program under Wine with its output in a file (a pipe to the end of Wine's output
# costs seconds); prints the output and returns the program's status.
run_windows() {
  local name=$1
  shift
  local status=0
  timeout 900 wine "$@" >"$run/$name.log" 2>&1 || status=$?
  cat "$run/$name.log"
  return $status
}

case "$mode" in
  bench)
    run_windows bench "$windows_build/bench/kl395-wine-exchange-bench.exe" 1
    ;;
  screenshot)
    # Needs imagemagick and xdotool. A Wine desktop of its own gives the dialog a title bar;
    # the window shows a few seconds after the start. Then the version is read and acquisition
    # started (button centres in pixels on that desktop).
    wine explorer /desktop=KL395,560x740 "$(windows_path "$program")" >"$run/explorer.log" 2>&1 &
    sleep 8
    xdotool mousemove 89 382 click 1
    sleep 1
    xdotool mousemove 301 477 click 1
    sleep 2.5
    import -window root -crop 560x740+0+0 +repage -trim +repage "$screenshot"
    echo "Wrote $screenshot"
    ;;
  tests)
    export KL395_EXE
    KL395_EXE=$(windows_path "$program")
    status=0
    passed=0
    failed=0
    skipped=0
    for tests in kl395-win32-core-tests kl395-win32-window-tests; do
      echo "== $tests under Wine =="
      run_windows "$tests" "$windows_build/tests/win32/$tests.exe" || status=1
      log="$run/$tests.log"
      passed=$((passed + $(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log" | tail -1 | grep . || echo 0)))
      failed=$((failed + $(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$log" | tail -1 | grep . || echo 0)))
      skipped=$((skipped + $(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\{0,1\}, listed below.*/\1/p' "$log" | tail -1 | grep . || echo 0)))
    done
    echo "== kl395-cli.exe over network lines under Wine =="
    cli="$windows_build/tools/cli/kl395-cli.exe"
    # Runs kl395-cli.exe with the arguments; passes when it ends with STATUS and its output
    # holds TEXT.
    cli_check() {
      local expected_status=$1 text=$2 got=0
      shift 2
      run_windows cli "$cli" "$@" >/dev/null || got=$?
      if [ $got -eq "$expected_status" ] && grep -qF -- "$text" "$run/cli.log"; then
        echo "[       OK ] kl395-cli.exe $*"
        passed=$((passed + 1))
      else
        echo "[  FAILED  ] kl395-cli.exe $* (status $got, wanted $expected_status and '$text'):"
        cat "$run/cli.log"
        failed=$((failed + 1))
        status=1
      fi
    }
    cli_check 0 "version: 1.1" --device "$KL395_RFC2217_URL" --baud 19200 read-version
    cli_check 1 "no reply within 1000 ms" --device "$KL395_RFC2217_URL" --baud 9600 read-version
    cli_check 0 "baud: 19200" --device "$KL395_RFC2217_URL" --wait 100 search 9600 19200
    cli_check 0 "version: 1.2" --device "$KL395_SOCKET_URL" read-version
    cli_check 0 "RX 00 01 00 00 00 05 01 03 02 00 0A" --device "$KL395_MODBUS_TCP_URL" --trace \
      read-version
    cli_check 3 "refused the connection" --device "socket://127.0.0.1:$(free_port 42300)" \
      read-status
    [ $status -eq 0 ] || [ $failed -gt 0 ] || failed=1  # a program that died reports no count
    echo "Wine: $passed passed, $failed failed, $skipped skipped"
    exit $status
    ;;
esac

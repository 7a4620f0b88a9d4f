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

# Everything below runs on one virtual display of its own.
if [ -z "${KL395_WINE_DISPLAY:-}" ]; then
  args=("$windows_build" "$linux_build")
  [ "$mode" = bench ] && args+=(--bench)
  [ "$mode" = screenshot ] && args+=(--screenshot "$screenshot")
  exec env KL395_WINE_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "${args[@]}"
fi

run=$(mktemp -d /tmp/kl395-wine.XXXXXX)
ports="$run/ports"
mkdir "$ports"
export WINEPREFIX="$run/prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no offer to install Mono or Gecko
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

sims=()
stop_everything() {
  # The Wine server first: it holds the terminals, and their closing would make it print
  # thousands of lines.
  wineserver -k >/dev/null 2>&1 || true
  timeout 20 wineserver -w >/dev/null 2>&1 || true
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$run"
}
trap stop_everything EXIT

# A fresh prefix. Its COM ports are fixed in its registry, so that Wine's own port detection
# (which would make COM1 the machine's first serial port) takes only numbers above 12.
echo "== Wine prefix (the first start takes a while) =="
timeout 300 wineboot --init >"$run/wineboot.log" 2>&1 || { cat "$run/wineboot.log"; exit 1; }
{
  echo 'REGEDIT4'
  echo
  echo '[HKEY_LOCAL_MACHINE\Software\Wine\Ports]'
  for n in $(seq 1 12); do echo "\"COM$n\"=\"$ports/com$n\""; done
  echo
  # No window manager runs on the virtual display; a managed window would wait for one for
  # two seconds whenever it is hidden.
  echo '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]'
  echo '"Managed"="N"'
} >"$run/settings.reg"
timeout 120 wine reg import "$run/settings.reg" >"$run/reg.log" 2>&1 || { cat "$run/reg.log"; exit 1; }
# Wine's own fonts where it looks for them, or the caption buttons lose their glyphs.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
wineserver -k >/dev/null 2>&1 || true
timeout 20 wineserver -w >/dev/null 2>&1 || true
rm -f "$WINEPREFIX"/dosdevices/com*  # made anew from the registry at the next start

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
deadline=$((SECONDS + 10))
while [ "$(find "$ports" -type l | wc -l)" -lt "${#sims[@]}" ]; do
  [ $SECONDS -lt $deadline ] || { cat "$run"/sim*.err >&2; echo "$0: the simulators did not start" >&2; exit 1; }
  sleep 0.1
done

# A server that stays up between the programs, its output kept from the terminals' closing.
wineserver -p >/dev/null 2>&1
timeout 120 wine cmd /c exit >/dev/null 2>&1 || true
wrong_port() {
  local n target
  for n in $(seq 1 12); do
    target=$(readlink "$WINEPREFIX/dosdevices/com$n" || true)
    if [ "$target" != "$ports/com$n" ]; then
      echo "COM$n leads to '${target:-nothing}' instead of $ports/com$n"
      return 0
    fi
  done
  return 1
}
deadline=$((SECONDS + 20))
while problem=$(wrong_port); do
  [ $SECONDS -lt $deadline ] || { echo "$0: $problem; not running" >&2; exit 1; }
  sleep 0.2
done

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
    [ $status -eq 0 ] || [ $failed -gt 0 ] || failed=1  # a program that died reports no count
    echo "Wine: $passed passed, $failed failed, $skipped skipped"
    exit $status
    ;;
esac

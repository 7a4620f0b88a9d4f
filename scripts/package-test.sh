#!/usr/bin/env bash
# Builds the Debian package and the Windows zip and checks them as their users would meet
# them: lintian, desktop-file-validate and appstreamcli on the .deb's contents; the tree of
# `cmake --install`; the .deb installed with apt-get, its tools run, its watch's systemd unit
# verified and its window started offscreen against the simulated detector; the zip unpacked
# and its kl395-cli.exe run under Wine. The package is removed again at the end, whatever
# happened.
#
#   scripts/package-test.sh [LINUX_BUILD [WINDOWS_BUILD]]   (default build-deb, build-zip)
#
# Both builds are release builds without tests; the Linux one takes Debian's compiler and
# linker flags (dpkg-buildflags, all hardening on).
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -le 2 ] || { echo "usage: $0 [LINUX_BUILD [WINDOWS_BUILD]]" >&2; exit 2; }
linux_build=$(realpath -m "${1:-build-deb}")
windows_build=$(realpath -m "${2:-build-zip}")
jobs=$(nproc)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

if dpkg-query -W -f='${Status}' kl395 2>/dev/null | grep -q "install ok installed"; then
  echo "$0: kl395 is installed on this machine; remove it first (apt-get remove kl395):" \
    "this test installs the package and removes it again" >&2
  exit 2
fi

work=$(mktemp -d /tmp/kl395-packages.XXXXXX)
jobs_started=()
installed=0
stop_started_jobs() {
  for pid in "${jobs_started[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true  # the status of a killed job
  done
  jobs_started=()
}
cleanup() {
  set +e
  stop_started_jobs
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
  fi
  if [ $installed -eq 1 ]; then
    echo "== Removing the package =="
    $sudo apt-get remove -y -q kl395 >"$work/remove.log" 2>&1 || cat "$work/remove.log"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
# Runs one check, its output shown only when it fails.
check() {
  local name=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then
    echo "ok    $name"
    passed=$((passed + 1))
  else
    echo "FAIL  $name"
    sed 's/^/      /' "$work/check.log"
    failed=$((failed + 1))
  fi
}

echo "== Debian package =="
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=None -DKL395_TESTS=OFF -DKL395_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >"$work/configure-deb.log" ||
  { cat "$work/configure-deb.log"; exit 1; }
cmake --build "$linux_build" -j"$jobs"
cpack --config "$linux_build/CPackConfig.cmake" -B "$linux_build/packages" \
  >"$work/cpack-deb.log" 2>&1 || { cat "$work/cpack-deb.log"; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$linux_build/CMakeCache.txt")
deb="$linux_build/packages/kl395_${version}_amd64.deb"
[ -f "$deb" ] || { echo "$0: cpack made no $deb" >&2; exit 1; }

echo "== Windows zip =="
cmake -S . -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKL395_TESTS=OFF -DKL395_BENCH=OFF >"$work/configure-zip.log" ||
  { cat "$work/configure-zip.log"; exit 1; }
cmake --build "$windows_build" -j"$jobs"
cpack --config "$windows_build/CPackConfig.cmake" -B "$windows_build/packages" \
  >"$work/cpack-zip.log" 2>&1 || { cat "$work/cpack-zip.log"; exit 1; }
zip="$windows_build/packages/kl395-${version}-win64.zip"
[ -f "$zip" ] || { echo "$0: cpack made no $zip" >&2; exit 1; }

echo "== Checks =="
lintian_clean() {
  # Every tag shown, down to the pedantic ones; only errors and warnings fail.
  lintian --display-info --display-experimental --pedantic --fail-on error,warning "$deb" 2>&1 |
    tee "$work/lintian.txt"
}
check "lintian: no errors or warnings" lintian_clean

contents="$work/deb"
dpkg-deb -x "$deb" "$contents"
check "desktop-file-validate" desktop-file-validate "$contents/usr/share/applications/kl395.desktop"
check "appstreamcli validate" appstreamcli validate --no-net \
  "$contents/usr/share/metainfo/com.example.kl395.metainfo.xml"
check "appstreamcli validate-tree" appstreamcli validate-tree --no-net "$contents"
# Serial devices stay the dialout group's: the package opens none of them to everyone.
no_udev_rule() { ! find "$contents" -path '*/udev/*' | grep .; }
check "no udev rule in the package" no_udev_rule
check "cmake --install tree" tests/packaging/install_tree_test.sh "$linux_build"

echo "== Installing $(basename "$deb") =="
installed=1
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "$deb" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }
check "kl395-cli --help" /usr/bin/kl395-cli --help
check "kl395-sim --help" /usr/bin/kl395-sim --help
# The program's answer to --version, shown, and whether it names this version.
says_version() {
  local said
  said=$("$@" | tr -d '\r')
  echo "said: $said"
  [ "$said" = "kl395-cli $version" ]
}
check "kl395-cli --version" says_version /usr/bin/kl395-cli --version
check "man kl395-cli" man -w kl395-cli
# The watch's unit as systemd reads it, its program and man page now installed; no instance
# of it enabled by the package.
unit_verifies() {
  local said
  said=$(systemd-analyze verify /usr/lib/systemd/system/kl395-watch@.service 2>&1)
  echo "$said"
  [ -z "$said" ]
}
check "systemd-analyze verify kl395-watch@.service" unit_verifies
watch_not_enabled() { ! find /etc/systemd -name 'kl395-watch*' | grep .; }
check "kl395-watch@.service installed disabled" watch_not_enabled

# The window against the simulated detector as COM1, in a ports folder of its own and with
# an empty device folder, so that no real serial port is touched.
window_runs() {
  local config="$work/config" devices="$work/no-devices"
  mkdir -p "$devices"
  XDG_CONFIG_HOME=$config KL395_DEVICE_DIR=$devices \
    /usr/bin/kl395-sim --com 1 </dev/null >"$work/sim.out" 2>"$work/sim.err" &
  jobs_started+=($!)
  local deadline=$((SECONDS + 10))
  until [ -L "$config/kl395/ports/com1" ]; do
    if [ $SECONDS -ge $deadline ]; then
      cat "$work/sim.err"
      echo "the simulator did not start"
      return 1
    fi
    sleep 0.1
  done
  XDG_CONFIG_HOME=$config KL395_DEVICE_DIR=$devices QT_QPA_PLATFORM=offscreen \
    /usr/bin/kl395 >"$work/window.log" 2>&1 &
  local window=$!
  jobs_started+=("$window")
  sleep 1
  if ! kill -0 "$window" 2>/dev/null; then
    local status=0
    wait "$window" || status=$?
    cat "$work/window.log"
    echo "the window ended within a second, status $status"
    return 1
  fi
  echo "running after a second"
}
check "the installed window, offscreen, for a second" window_runs
stop_started_jobs

echo "== The zip under Wine =="
unpacked="$work/zip"
unzip -q "$zip" -d "$unpacked"
folder="$unpacked/kl395-${version}-win64"
zip_holds_its_files() {
  (cd "$folder" && ls -1) | sort >"$work/zip-files"
  printf '%s\n' KL395.exe LICENSE.txt README.txt kl395-cli.exe | diff -u - "$work/zip-files"
}
check "the zip holds KL395.exe, kl395-cli.exe, README.txt, LICENSE.txt" zip_holds_its_files
# As tests/win32/run-under-wine.sh runs programs: a fresh prefix, output into a file. A
# console program needs no display.
export WINEPREFIX="$work/wine" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
timeout 300 wineboot --init >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
cli_under_wine() {
  timeout 120 wine "$folder/kl395-cli.exe" "$@" >"$work/wine-cli.log" 2>&1
  local status=$?
  tr -d '\r' <"$work/wine-cli.log"
  return $status
}
check "kl395-cli.exe --help under Wine" cli_under_wine --help
check "kl395-cli.exe --version under Wine" says_version cli_under_wine --version

echo "== lintian, every tag =="
cat "$work/lintian.txt"
echo "== Sizes =="
for file in "$deb" "$zip"; do
  echo "$(basename "$file"): $(stat -c %s "$file") bytes"
done
echo "Packages: $passed passed, $failed failed"
[ $failed -eq 0 ]

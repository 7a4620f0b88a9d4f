#!/usr/bin/env bash
# Builds the Debian package, the Windows zip and the Windows setup program and checks them as
# their users would meet them: lintian, desktop-file-validate and appstreamcli on the .deb's
# contents; the tree of `cmake --install`; the .deb installed with apt-get, its tools run, its
# watch's systemd unit verified and its window started offscreen against the simulated
# detector; the zip unpacked and its kl395-cli.exe run under Wine; the setup program run
# silently in that Wine prefix, what it installed checked and run (the window against the
# simulated detector as COM1), and its uninstaller run silently, after which the prefix must be
# as before. The package is removed again at the end, whatever happened.
#
#   scripts/package-test.sh [LINUX_BUILD [WINDOWS_BUILD]]   (default build-deb, build-zip)
#
# Both builds are release builds without tests; the Linux one takes Debian's compiler and
# linker flags (dpkg-buildflags, all hardening on).
set -euo pipefail
[ $# -le 2 ] || { echo "usage: $0 [LINUX_BUILD [WINDOWS_BUILD]]" >&2; exit 2; }
# shellcheck source=tests/win32/wine-prefix.sh
. "$(dirname "$0")/../tests/win32/wine-prefix.sh"
wine_own_display "$0" "$@"  # for the installed window under Wine
cd "$(dirname "$0")/.."
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
  wine_server_stop  # before the simulator, whose terminal it may hold
  stop_started_jobs
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

echo "== Windows zip and setup program =="
cmake -S . -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DKL395_TESTS=OFF -DKL395_BENCH=OFF >"$work/configure-win.log" ||
  { cat "$work/configure-win.log"; exit 1; }
cmake --build "$windows_build" -j"$jobs"
cpack --config "$windows_build/CPackConfig.cmake" -B "$windows_build/packages" \
  >"$work/cpack-win.log" 2>&1 || { cat "$work/cpack-win.log"; exit 1; }
zip="$windows_build/packages/kl395-${version}-win64.zip"
setup="$windows_build/packages/kl395-${version}-win64-setup.exe"
for package in "$zip" "$setup"; do
  [ -f "$package" ] || { cat "$work/configure-win.log"; echo "$0: no $package" >&2; exit 1; }
done

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

# Waits up to ten seconds for a simulator's COM link; tells its standard error when it fails.
sim_linked() {
  local link=$1 errors=$2 deadline=$((SECONDS + 10))
  until [ -L "$link" ]; do
    if [ $SECONDS -ge $deadline ]; then
      cat "$errors"
      echo "the simulator did not start"
      return 1
    fi
    sleep 0.1
  done
}

# The window against the simulated detector as COM1, in a ports folder of its own and with
# an empty device folder, so that no real serial port is touched.
window_runs() {
  local config="$work/config" devices="$work/no-devices"
  mkdir -p "$devices"
  XDG_CONFIG_HOME=$config KL395_DEVICE_DIR=$devices \
    /usr/bin/kl395-sim --com 1 </dev/null >"$work/sim.out" 2>"$work/sim.err" &
  jobs_started+=($!)
  sim_linked "$config/kl395/ports/com1" "$work/sim.err" || return 1
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
  (cd "$folder" && ls -1) | LC_ALL=C sort >"$work/zip-files"
  printf '%s\n' KL395.exe LICENSE.txt README.txt kl395-cli.exe | diff -u - "$work/zip-files"
}
check "the zip holds KL395.exe, kl395-cli.exe, README.txt, LICENSE.txt" zip_holds_its_files
# The prefix of tests/win32/run-under-wine.sh, whose COM ports lead into a folder of ours.
ports="$work/ports"
mkdir "$ports"
wine_prefix_create "$work" "$ports"
# Runs a Windows program with its output in a file (a pipe costs seconds under Wine), shows
# the output and returns the program's status.
run_under_wine() {
  timeout 120 wine "$@" >"$work/wine-program.log" 2>&1
  local status=$?
  tr -d '\r' <"$work/wine-program.log"
  return $status
}
check "kl395-cli.exe --help under Wine" run_under_wine "$folder/kl395-cli.exe" --help
check "kl395-cli.exe --version under Wine" \
  says_version run_under_wine "$folder/kl395-cli.exe" --version

echo "== The setup program under Wine =="
drive_c="$WINEPREFIX/drive_c"
setup_dir="$drive_c/Program Files/KL-395"
menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/KL-395"
desktop="$drive_c/users/Public/Desktop"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\KL-395'
# The prefix's files and the keys of the Software trees of its registry.
prefix_state() {
  timeout 60 wineserver -w  # the server writes the registry when it ends
  (cd "$drive_c" && find . | LC_ALL=C sort)
  local hive
  for hive in system user; do
    grep '^\[Software' "$WINEPREFIX/$hive.reg" | sed "s/\] [0-9]*$/]/; s/^/$hive /" |
      LC_ALL=C sort
  done
}
prefix_state >"$work/before-setup"
# Runs a setup program or uninstaller with /S, as an administrator deploys it, and waits until
# its work is done: an uninstaller hands the work to a copy of itself and returns at once.
run_silently() {
  local status=0
  timeout 300 wine "$@" /S >"$work/silent.log" 2>&1 || status=$?
  timeout 120 wineserver -w
  # Wine's own messages come in the console's code page, GBK under the Chinese locale.
  iconv -f GB18030 -t UTF-8 "$work/silent.log" 2>/dev/null || cat "$work/silent.log"
  [ $status -eq 0 ] || { echo "$1 /S ended with status $status"; return 1; }
}
check "the setup program, silently (/S)" run_silently "$setup"

setup_installed_its_files() {
  (cd "$setup_dir" && ls -1) | LC_ALL=C sort >"$work/installed-files"
  printf '%s\n' KL395.exe LICENSE.txt README.txt Uninstall.exe kl395-cli.exe |
    diff -u - "$work/installed-files"
}
check "C:\\Program Files\\KL-395 holds the zip's files and Uninstall.exe" \
  setup_installed_its_files
# Passes if the shortcut FILE exists and leads to the Windows path TARGET.
shortcut_leads_to() {
  local file=$1 target=$2
  [ -f "$file" ] || { echo "no ${file#"$drive_c"/}"; return 1; }
  grep -qaF "$target" "$file" || { echo "${file#"$drive_c"/} does not lead to $target"; return 1; }
}
start_menu_and_desktop() {
  (cd "$menu" && ls -1) | LC_ALL=C sort >"$work/menu-files"
  printf '%s\n' "KL-395 使用说明.lnk" KL-395.lnk | diff -u - "$work/menu-files" &&
    shortcut_leads_to "$menu/KL-395.lnk" 'C:\Program Files\KL-395\KL395.exe' &&
    shortcut_leads_to "$menu/KL-395 使用说明.lnk" 'C:\Program Files\KL-395\README.txt' &&
    shortcut_leads_to "$desktop/KL-395.lnk" 'C:\Program Files\KL-395\KL395.exe'
}
check "Start-menu folder KL-395 (the window, the read-me in Chinese), desktop shortcut" \
  start_menu_and_desktop

uninstall_entry_holds() {
  run_under_wine reg query "$uninstall_key" >"$work/uninstall-entry" || {
    cat "$work/uninstall-entry"
    return 1
  }
  cat "$work/uninstall-entry"
  local name expected got wrong=0
  while IFS='|' read -r name expected; do
    got=$(sed -n "s/^ *$name *REG_SZ *//p" "$work/uninstall-entry")
    [ "$got" = "$expected" ] || { echo "$name is '$got', not '$expected'"; wrong=1; }
  done <<VALUES
DisplayName|KL-395
DisplayVersion|$version
Publisher|The KL-395 developers
DisplayIcon|C:\\Program Files\\KL-395\\KL395.exe,0
UninstallString|"C:\\Program Files\\KL-395\\Uninstall.exe"
VALUES
  return $wrong
}
check "the entry in the list of installed programs" uninstall_entry_holds
check "the installed kl395-cli.exe --version" \
  says_version run_under_wine "$setup_dir/kl395-cli.exe" --version

# The installed window against the simulated detector as COM1.
installed_window_runs() {
  "$linux_build/tools/sim/kl395-sim" --com 1 --ports-dir "$ports" \
    </dev/null >"$work/wine-sim.out" 2>"$work/wine-sim.err" &
  jobs_started+=($!)
  sim_linked "$ports/com1" "$work/wine-sim.err" || return 1
  wine_server_start "$ports" 2>&1 || return 1
  wine 'C:\Program Files\KL-395\KL395.exe' >"$work/wine-window.log" 2>&1 &
  local window=$!
  jobs_started+=("$window")
  sleep 3
  if ! kill -0 "$window" 2>/dev/null; then
    local status=0
    wait "$window" || status=$?
    cat "$work/wine-window.log"
    echo "the window ended within three seconds, status $status"
    return 1
  fi
  echo "running after three seconds"
}
check "the installed KL395.exe for three seconds, COM1 the simulator" installed_window_runs
wine_server_stop
stop_started_jobs

# As the list of installed programs runs the uninstaller.
uninstall_silently() {
  local command
  command=$(sed -n 's/^ *UninstallString *REG_SZ *"\(.*\)"$/\1/p' "$work/uninstall-entry")
  [ -n "$command" ] || { echo "no UninstallString"; return 1; }
  run_silently "$command"
}
check "the uninstaller, silently (/S)" uninstall_silently
# What of ours is still there, said in words.
left_behind() {
  local path
  for path in "$setup_dir" "$menu" "$desktop/KL-395.lnk"; do
    [ ! -e "$path" ] || echo "${path#"$drive_c"/} is still there"
  done
  if run_under_wine reg query "$uninstall_key" >/dev/null; then
    echo "$uninstall_key is still there"
  fi
}
nothing_left_behind() {
  left_behind >"$work/left"
  cat "$work/left"
  [ ! -s "$work/left" ]
}
check "no program file, shortcut or uninstall entry left" nothing_left_behind
# The uninstaller's copy of itself in the temporary folder goes at the next start of Windows.
as_before_after_a_restart() {
  timeout 120 wineboot --restart >"$work/restart.log" 2>&1 ||
    { cat "$work/restart.log"; return 1; }
  prefix_state >"$work/after-uninstall"
  diff -u "$work/before-setup" "$work/after-uninstall" || return 1
  ! grep -iE 'KL-395|KL395\.exe|kl395-cli' "$WINEPREFIX"/*.reg
}
check "after a restart, the prefix's files and registry as before the setup" \
  as_before_after_a_restart

# A Windows in another language than Chinese gets the setup in English, read-me shortcut and
# all; the uninstaller removes it whatever the language it speaks.
english_setup() {
  LC_ALL=de_DE.UTF-8 LANG=de_DE.UTF-8 run_silently "$setup" || return 1
  if [ ! -f "$menu/KL-395 Read Me.lnk" ]; then
    ls "$menu"
    echo "no KL-395 Read Me.lnk"
    return 1
  fi
  run_silently "$setup_dir/Uninstall.exe" && nothing_left_behind
}
check "under a German locale, the setup in English, removed by a Chinese uninstaller" \
  english_setup

echo "== lintian, every tag =="
cat "$work/lintian.txt"
echo "== Sizes =="
for file in "$deb" "$zip" "$setup"; do
  echo "$(basename "$file"): $(stat -c %s "$file") bytes"
done
echo "Packages: $passed passed, $failed failed"
[ $failed -eq 0 ]

#!/usr/bin/env bash
# Takes the README's Linux screenshot: the window under Xvfb with a small window manager,
# the version read and acquisition running against the simulated detector (leak and optical
# alarm). Needs a build in build/ and: apt-get install openbox xdotool imagemagick xvfb
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshot-linux.png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A title bar with the close box only, as desktops draw a dialog without minimise/maximise.
mkdir -p "$work/wm/openbox"
sed 's|<titleLayout>.*</titleLayout>|<titleLayout>NLC</titleLayout>|' /etc/xdg/openbox/rc.xml \
  >"$work/wm/openbox/rc.xml"

export XDG_CONFIG_HOME="$work"
mkfifo "$work/sim-input"
build/tools/sim/kl395-sim --com 1 <"$work/sim-input" >/dev/null &
exec 3>"$work/sim-input"
echo "leak 1" >&3
echo "alarm 1" >&3

cat >"$work/session.sh" <<SESSION
XDG_CONFIG_HOME="$work/wm" openbox >/dev/null 2>&1 &
sleep 1
build/ui/qt/kl395 &
sleep 3
id=\$(xdotool search --name '^KL-395\$' | head -1)
# Button centres in pixels: the template's dialog units at 7 x 14 pixels per 4 x 8 units.
xdotool mousemove --window "\$id" 46 269 click 1    # read the version
sleep 0.5
xdotool mousemove --window "\$id" 257 349 click 1   # start acquisition
sleep 2.5
import -window root "$work/screen.png"
kill %2 %1
SESSION
xvfb-run -a -s "-screen 0 560x600x24" bash "$work/session.sh" 2>/dev/null
echo quit >&3
convert "$work/screen.png" -trim +repage "$out"
echo "wrote $out"

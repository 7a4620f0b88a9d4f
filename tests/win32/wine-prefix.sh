# shellcheck shell=bash
# Sourced by the scripts that run Windows programs under Wine: a virtual display, a fresh
# prefix whose COM ports lead only into a folder of the run's own, and a Wine server kept up
# between the programs.

# Nothing here touches a prefix but the one made below.
unset WINEPREFIX

# Runs the command (the calling script again) on a virtual display of its own, unless this
# already is such a run.
wine_own_display() {
  [ -z "${KL395_WINE_DISPLAY:-}" ] || return 0
  exec env KL395_WINE_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
}

# A fresh 64-bit prefix in RUN/prefix, with a home of its own in RUN/home (the prefix links
# the user's desktop and documents into the home), the Simplified Chinese locale (under C.UTF-8
# Wine draws every Chinese glyph as a box) and Wine's own fonts. Its COM ports are fixed in its
# registry, COM n to PORTS/comN, so that Wine's own port detection (which would make COM1 the
# machine's first serial port) takes only numbers above 12. Ends with no Wine server running.
wine_prefix_create() {
  local run=$1 ports=$2
  export WINEPREFIX="$run/prefix" WINEARCH=win64 WINEDEBUG=-all
  # No offer to install Mono or Gecko, and no menu entries or icons written outside the prefix.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
  export HOME="$run/home"
  mkdir -p "$HOME"
  timeout 300 wineboot --init >"$run/wineboot.log" 2>&1 || { cat "$run/wineboot.log"; return 1; }
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
  timeout 120 wine reg import "$run/settings.reg" >"$run/reg.log" 2>&1 ||
    { cat "$run/reg.log"; return 1; }
  # Wine's own fonts where it looks for them, or the caption buttons lose their glyphs.
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  wine_server_stop
  rm -f "$WINEPREFIX"/dosdevices/com*  # made anew from the registry at the next start
}

# Ends every program of the prefix and its server; nothing before there is a prefix of ours.
wine_server_stop() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  timeout 20 wineserver -w >/dev/null 2>&1 || true
}

# The first COM port up to 12 that does not lead to PORTS/comN, said in words; fails if none.
wine_wrong_port() {
  local ports=$1 n target
  for n in $(seq 1 12); do
    target=$(readlink "$WINEPREFIX/dosdevices/com$n" || true)
    if [ "$target" != "$ports/com$n" ]; then
      echo "COM$n leads to '${target:-nothing}' instead of $ports/com$n"
      return 0
    fi
  done
  return 1
}

# Starts a server that stays up between the programs, its output kept from the terminals'
# closing, and waits until COM1 to COM12 lead into PORTS; fails, saying which does not, if
# they do not within 20 seconds.
wine_server_start() {
  local ports=$1 problem deadline=$((SECONDS + 20))
  wineserver -p >/dev/null 2>&1
  timeout 120 wine cmd /c exit >/dev/null 2>&1 || true
  while problem=$(wine_wrong_port "$ports"); do
    [ $SECONDS -lt $deadline ] || { echo "$problem; not running" >&2; return 1; }
    sleep 0.2
  done
}

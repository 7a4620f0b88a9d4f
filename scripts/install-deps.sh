#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need; skips what is there.
set -euo pipefail

packages=(
  cmake g++ make pkgconf
  libgtest-dev libgmock-dev libbenchmark-dev
  libmodbus-dev mbpoll ser2net
  libmosquitto-dev mosquitto mosquitto-clients nlohmann-json3-dev openssl
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 googletest
  wine wine64 fonts-wine locales
  qt6-base-dev qt6-base-private-dev fonts-noto-cjk xvfb xauth
  dpkg-dev lintian help2man desktop-file-utils appstream unzip nsis systemd
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The Windows tests run Wine under the Simplified Chinese locale; the window's numbers are
# tested under a decimal-comma locale.
for name in zh_CN de_DE; do
  if ! locale -a | grep -qi "^$name\.utf-\?8$"; then
    echo "Generating the $name.UTF-8 locale"
    $sudo localedef -i "$name" -f UTF-8 "$name.UTF-8"
  fi
done

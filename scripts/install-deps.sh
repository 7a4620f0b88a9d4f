#!/usr/bin/env bash
# Installs the Debian packages the build, the demo and the tests need; skips what is there.
set -euo pipefail

packages=(
  cmake g++ make pkgconf
  libgtest-dev libgmock-dev libbenchmark-dev
  libmodbus-dev mbpoll
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  qt6-base-dev fonts-noto-cjk xvfb xauth
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# Installs a Linux build into a fresh prefix with `cmake --install` and checks the tree: every
# file in its place and nothing else, the programs running from there, the icons at their
# sizes, and the version the same in the programs, the changelog and the AppStream metadata.
#
#   tests/packaging/install_tree_test.sh BUILD
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 BUILD" >&2; exit 2; }
build=$1
work=$(mktemp -d /tmp/kl395-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "$0: $build is no configured build" >&2; exit 2; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log"; exit 1; }

expected=(
  bin/kl395 bin/kl395-cli bin/kl395-sim
  share/applications/kl395.desktop
  share/metainfo/com.example.kl395.metainfo.xml
  share/man/man1/kl395.1.gz share/man/man1/kl395-cli.1.gz share/man/man1/kl395-sim.1.gz
  share/doc/kl395/README.md share/doc/kl395/LICENSE share/doc/kl395/copyright
  share/doc/kl395/changelog.gz share/doc/kl395/examples/kl395-watch-ttyUSB0
  lib/systemd/system/kl395-watch@.service
)
for size in 16 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/kl395.png")
done
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
(cd "$prefix" && find . -type f -printf '%P\n' | sort) >"$work/installed"
if ! diff -u "$work/expected" "$work/installed" >"$work/diff"; then
  fail "the installed files are not those expected (- missing, + extra):"
  sed 1,2d "$work/diff" >&2
fi

# The programs run from the tree.
for program in kl395-cli kl395-sim; do
  "$prefix/bin/$program" --help >"$work/help" 2>&1 || fail "$program --help failed"
  grep -q "$program" "$work/help" || fail "$program --help does not name the program"
done
said=$("$prefix/bin/kl395-cli" --version 2>&1 || true)
[ "$said" = "kl395-cli $version" ] || fail "kl395-cli --version says '$said', not 'kl395-cli $version'"

# A PNG's width and height are the first eight bytes of its header chunk.
for size in 16 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/kl395.png"
  [ -f "$png" ] || continue
  read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 "$png")
  width=$(((w1 << 24) | (w2 << 16) | (w3 << 8) | w4))
  height=$(((h1 << 24) | (h2 << 16) | (h3 << 8) | h4))
  [ "$width" = "$size" ] && [ "$height" = "$size" ] ||
    fail "the ${size}x${size} icon is ${width}x${height}"
done

# The newest entries of the changelog and of the metadata's releases name this version.
changelog="$prefix/share/doc/kl395/changelog.gz"
if [ -f "$changelog" ]; then
  newest=$(zcat "$changelog" | sed -n '1s/^kl395 (\([^)]*\)).*/\1/p')
  [ "$newest" = "$version" ] || fail "the changelog's newest entry is '$newest', not $version"
fi
metainfo="$prefix/share/metainfo/com.example.kl395.metainfo.xml"
if [ -f "$metainfo" ]; then
  newest=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
  [ "$newest" = "$version" ] || fail "the metadata's newest release is '$newest', not $version"
fi
for page in kl395 kl395-cli kl395-sim; do
  file="$prefix/share/man/man1/$page.1.gz"
  [ -f "$file" ] || continue
  zcat "$file" | grep -q "^\.TH .*$version" || fail "the man page of $page does not name $version"
done

if [ $failures -gt 0 ]; then
  echo "install tree: $failures failed" >&2
  exit 1
fi
echo "install tree: all ${#expected[@]} files in place, and they work"

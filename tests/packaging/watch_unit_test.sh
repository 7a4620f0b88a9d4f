#!/usr/bin/env bash
# systemd-analyze verify on the watch's unit as an instance would run, kl395-cli the one built
# here: it passes with nothing to say. The man page is not looked for, since it is not
# installed yet (scripts/package-test.sh verifies the installed unit with it).
#
#   tests/packaging/watch_unit_test.sh UNIT KL395_CLI
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 UNIT KL395_CLI" >&2; exit 2; }
unit=$1
cli=$2
work=$(mktemp -d /tmp/kl395-unit.XXXXXX)
trap 'rm -rf "$work"' EXIT

instance="$work/kl395-watch@ttyUSB0.service"
sed "s|^ExecStart=/usr/bin/kl395-cli |ExecStart=$cli |" "$unit" >"$instance"
grep -q "^ExecStart=$cli " "$instance" || { echo "FAIL: no ExecStart of /usr/bin/kl395-cli" >&2; exit 1; }

status=0
said=$(systemd-analyze verify --man=no "$instance" 2>&1) || status=$?
if [ $status -ne 0 ] || [ -n "$said" ]; then
  echo "FAIL: systemd-analyze verify (status $status) says:" >&2
  echo "$said" >&2
  exit 1
fi
echo "systemd-analyze verify passes the unit."

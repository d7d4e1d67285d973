#!/usr/bin/env bash
# systemd-analyze verify on the package's system and user units, with the package unpacked into
# a scratch root so the programs the units start are found where the units name them.
# usage: scripts/verify-units.sh build/orvakell_<version>_amd64.deb
set -euo pipefail
deb=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
# The units name /usr/lib/orvakell/orvakell-service: verify against the unpacked copy.
for unit in "$root"/lib/systemd/system/orvakell.service "$root"/lib/systemd/user/orvakell.service; do
  sed "s|/usr/lib/orvakell/|$root/usr/lib/orvakell/|g" "$unit" > "$root/orvakell.service"
  echo "systemd-analyze verify ${unit#$root}"
  SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no "$root/orvakell.service"
done

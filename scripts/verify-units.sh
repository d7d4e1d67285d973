#!/usr/bin/env bash
# systemd-analyze verify on the system and the user unit of packaging/systemd, with the programs
# the units start taken from PROGRAM_DIR instead of /usr/lib/orvakell (so a build folder or an
# unpacked package can be checked without installing). Both are verified in system mode: the
# user mode needs a running user manager.
# usage: scripts/verify-units.sh PROGRAM_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
programs=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for unit in orvakell.service orvakell-user.service; do
  sed "s|/usr/lib/orvakell/|$programs/|g" "$here/packaging/systemd/$unit" > "$scratch/orvakell.service"
  echo "systemd-analyze verify $unit"
  SYSTEMD_LOG_LEVEL=notice systemd-analyze verify --man=no "$scratch/orvakell.service"
done

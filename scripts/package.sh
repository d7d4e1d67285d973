#!/usr/bin/env bash
# Builds the Debian package: a release build in build/ (no tests, no benchmarks), then CPack.
# Result: build/orvakell_<version>_amd64.deb. Checks it when the tools are there: lintian, and
# systemd-analyze verify on both units installed into a scratch root.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_TESTS=OFF -DORV_BUILD_BENCH=OFF -DORV_SANITIZE=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build -j"$(nproc)"
(cd build && cpack -G DEB)
deb=$(ls -t build/orvakell_*_amd64.deb | head -n1)
echo "package: $deb"
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb"
fi
if command -v systemd-analyze >/dev/null; then
  root=$(mktemp -d)
  trap 'rm -rf "$root"' EXIT
  dpkg-deb -x "$deb" "$root"
  bash scripts/verify-units.sh "$root/usr/lib/orvakell"
fi

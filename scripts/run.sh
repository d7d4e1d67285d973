#!/usr/bin/env bash
# Installs what is missing, builds the tool, sets up the embedded local server engine with its
# sample databases (once) and starts the tool from build/bin, its installation folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)"
if [ -x build/bin/orvakell-setup ]; then
  build/bin/orvakell-setup
fi
if [ -x build/bin/orvakell ]; then
  exec build/bin/orvakell "$@"
fi
exec build/bin/orvakell-schedule "$@"

#!/usr/bin/env bash
# Installs what is missing, builds the tool, sets up the embedded local server engine with its
# sample databases (once) and starts the tool from build/bin, its installation folder; on a
# machine without a display, the background service instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_TESTS=OFF
cmake --build build -j"$(nproc)"
if [ -x build/bin/orvakell-setup ]; then
  build/bin/orvakell-setup
fi
if [ -x build/bin/orvakell ]; then
  # Without a display the window says so in one line and ends with status 2: the schedule then
  # runs in the background service, in the foreground of this terminal (Ctrl+C ends it).
  status=0
  build/bin/orvakell "$@" || status=$?
  if [ "$status" -eq 2 ]; then
    exec build/bin/orvakell-service
  fi
  exit "$status"
fi
exec build/bin/orvakell-schedule "$@"

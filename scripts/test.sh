#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the whole test suite, then runs each fuzz target for a short, bounded time.
#   ORV_TEST_DIR   build folder (default build-test)
#   FUZZ_SECONDS   seconds per fuzz target (default 20; 0 skips fuzzing)
#   CTEST_ARGS     extra arguments for ctest (for example "-L zip")
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir=${ORV_TEST_DIR:-build-test}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON -DORV_BUILD_TESTS=ON -DORV_WERROR=ON
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
# shellcheck disable=SC2086
(cd "$dir" && ctest --output-on-failure -j"$(nproc)" ${CTEST_ARGS:-})
if [ "${FUZZ_SECONDS:-20}" != "0" ]; then
  bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
fi

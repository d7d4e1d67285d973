#!/usr/bin/env bash
# Installs, with apt-get, whatever the project needs to build, run and test that is missing.
# Idempotent: packages already installed are left alone and nothing is fetched then.
set -euo pipefail

packages=(
  # compilers and build
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev
  # libraries
  libsqlite3-dev zlib1g-dev libdeflate-dev libattr1-dev unixodbc-dev
  libssl-dev
  qt6-base-dev libgl-dev fonts-dejavu-core
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # outside tools our tests check the output with, and ODBC drivers
  sqlite3 unixodbc odbcinst libsqliteodbc tdsodbc
  freetds-bin
  zip unzip p7zip-full xorriso genisoimage libarchive-tools python3 attr
  libpython3.11-testsuite
  # the Debian package (scripts/package.sh) and its checks
  dpkg-dev lintian systemd
  # zone rules for the tests of disc dates in summer time
  tzdata
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"

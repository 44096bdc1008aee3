#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs every Debian package KALIVOR needs (idempotent), then configures and builds into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libsqlite3-dev sqlite3
  libpq-dev postgresql
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  xvfb xauth desktop-file-utils python3
  fonts-wqy-microhei
  ccache
  dpkg-dev lintian
)

. scripts/lib/packages.sh
ensure_packages "${PACKAGES[@]}"

BUILD_DIR="${BUILD_DIR:-build}"
# ccache makes rebuilds in other checkouts of the tree (and CI's clean clone) cheap; paths are
# hashed relative to the checkout so every checkout shares the cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${LAUNCHER[@]}" ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"

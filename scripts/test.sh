#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the whole test suite of an existing build (scripts/setup.sh builds it). Window tests run
# on Qt's offscreen platform, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" --timeout 300 "$@"

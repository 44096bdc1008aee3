#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Crash test: kills `kalivor-cli run --simulate` with SIGKILL at random moments and checks after
# every kill that each record passes SQLite's integrity check, numbers its scans 1..n and holds
# every scan the program printed (see scripts/crash_test.py).
#   CRASH_TRIALS  kills (default 30)      CRASH_LANES  runs side by side (default 3)
#   CRASH_SEED    repeat a failed run's choice of moments
# Uses the kalivor-cli of an existing build (BUILD_DIR, default build; scripts/setup.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
cmake --build "$BUILD_DIR" --target kalivor-cli >/dev/null
args=(--cli "$BUILD_DIR/bin/kalivor-cli" --trials "${CRASH_TRIALS:-30}" --lanes "${CRASH_LANES:-3}")
[ -n "${CRASH_SEED:-}" ] && args+=(--seed "$CRASH_SEED")
exec python3 scripts/crash_test.py "${args[@]}" "$@"

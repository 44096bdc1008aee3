#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything, windows included, with AddressSanitizer and UndefinedBehaviorSanitizer
# (preset "asan", into build-asan) and runs the whole test suite there. Any memory error, leak or
# undefined behaviour fails the test it happens in. Arguments go to ctest (-R test_store, ...).
# ASAN_BUILD_DIR names another build folder. Needs the packages of scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${ASAN_BUILD_DIR:-build-asan}"
started=$(date +%s)

export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset asan -B "$BUILD_DIR" "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
built=$(date +%s)

export QT_QPA_PLATFORM=offscreen
# halt_on_error: the first report ends the test with a failure rather than scrolling past.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# Leaks of system libraries are theirs, not ours: fontconfig keeps its caches until exit.
cat > "$BUILD_DIR/lsan.supp" <<'SUPP'
leak:libfontconfig.so
SUPP
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/$BUILD_DIR/lsan.supp:print_suppressions=0}"
status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" --timeout 900 "$@" || status=$?
finished=$(date +%s)
echo "sanitize: build $((built - started)) s, tests $((finished - built)) s"
exit "$status"

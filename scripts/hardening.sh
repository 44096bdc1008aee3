#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Everything that shows KALIVOR keeps working under faults and bad input, in one command:
#   1. scripts/setup.sh and scripts/test.sh   packages, the normal build (build/), the test suite
#      (test_hardening included: faulty meters, failing records)
#   2. scripts/sanitize.sh                   the whole suite again under ASan + UBSan (build-asan)
#   3. scripts/fuzz.sh                       every fuzz target for FUZZ_SECONDS (default 60) each
#   4. scripts/crash_test.sh                 CRASH_TRIALS (default 30) SIGKILLs of a logging run
#   5. bench/soak_bench                      250 000 scans: time per scan and memory over the run
# Every step runs even when an earlier one failed; the summary says which failed, and the exit
# status is non-zero when any did. HARDENING_SKIP="sanitize soak" leaves steps out.
set -uo pipefail
cd "$(dirname "$0")/.."
skip=" ${HARDENING_SKIP:-} "
results=()
failed=0

step() {
  local name=$1
  shift
  if [[ "$skip" == *" $name "* ]]; then
    results+=("$(printf '%-9s skipped' "$name")")
    return
  fi
  echo "=== $name: $*"
  local started=$SECONDS
  if "$@"; then
    results+=("$(printf '%-9s ok      %5d s' "$name" $((SECONDS - started)))")
  else
    results+=("$(printf '%-9s FAILED  %5d s' "$name" $((SECONDS - started)))")
    failed=1
  fi
}

soak() {
  cmake --build "${BUILD_DIR:-build}" --target soak_bench >/dev/null && "${BUILD_DIR:-build}/bench/soak_bench"
}

step tests bash -c './scripts/setup.sh && ./scripts/test.sh'
step sanitize ./scripts/sanitize.sh
step fuzz ./scripts/fuzz.sh
step crash ./scripts/crash_test.sh
step soak soak

echo "=== hardening summary"
printf '  %s\n' "${results[@]}"
exit "$failed"

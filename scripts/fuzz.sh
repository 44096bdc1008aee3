#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets (preset "fuzz": clang 14, ASan + UBSan, into build-fuzz) and runs
# each for a bounded time, seeded from fuzz/corpus/<name>/.
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_TARGETS  which targets, e.g. "fetch_parser numbers" (default: all of fuzz/*_fuzz.cpp)
#   FUZZ_BUILD_DIR  build folder (default build-fuzz)
# Targets run side by side, one per core. Inputs that add coverage collect in
# build-fuzz/corpus/<name>/ (the committed seeds are not touched); an input that crashes or hangs
# a target is kept in build-fuzz/artifacts/<name>/ and makes the script fail. Reproduce one with
#   build-fuzz/bin/<name>_fuzz build-fuzz/artifacts/<name>/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${FUZZ_BUILD_DIR:-build-fuzz}"
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"

# clang and its libFuzzer runtime (idempotent, like scripts/setup.sh).
. scripts/lib/packages.sh
ensure_packages clang-14 libclang-rt-14-dev

export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
LAUNCHER=()
command -v ccache >/dev/null && LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset fuzz -B "$BUILD_DIR" "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)" --target fuzzers

targets=()
if [ -n "${FUZZ_TARGETS:-}" ]; then
  read -r -a targets <<<"$FUZZ_TARGETS"
else
  for src in fuzz/*_fuzz.cpp; do
    name=$(basename "$src" _fuzz.cpp)
    targets+=("$name")
  done
fi

# Longer inputs where the format needs them: a fetch answer of several reads, a record file of a
# few pages.
maxLen() {
  case "$1" in
    record_file) echo 65536 ;;
    fetch_parser) echo 16384 ;;
    *) echo 8192 ;;
  esac
}

runTarget() {
  local name=$1 bin="$BUILD_DIR/bin/$1_fuzz"
  local work="$BUILD_DIR/corpus/$name" artifacts="$BUILD_DIR/artifacts/$name"
  local tmp="$BUILD_DIR/tmp/$name" log="$BUILD_DIR/logs/$name.log"
  mkdir -p "$work" "$artifacts" "$BUILD_DIR/logs" "fuzz/corpus/$name"
  rm -rf "$tmp" && mkdir -p "$tmp"
  # New inputs go to the first folder; the seeds are only read.
  TMPDIR="$PWD/$tmp" "$bin" -max_total_time="$FUZZ_SECONDS" -max_len="$(maxLen "$name")" \
    -timeout=25 -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" "fuzz/corpus/$name" >"$log" 2>&1
}

status=0
declare -A pids=()
for name in "${targets[@]}"; do
  [ -x "$BUILD_DIR/bin/${name}_fuzz" ] || { echo "fuzz: no target ${name}_fuzz"; status=1; continue; }
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  runTarget "$name" &
  pids[$name]=$!
done

printf '\n%-14s %12s %10s %8s %9s  %s\n' target executions "exec/s" seconds corpus result
for name in "${targets[@]}"; do
  [ -n "${pids[$name]:-}" ] || continue
  result=ok
  wait "${pids[$name]}" || { result="FAILED (see $BUILD_DIR/logs/$name.log)"; status=1; }
  log="$BUILD_DIR/logs/$name.log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  corpus=$(find "$BUILD_DIR/corpus/$name" "fuzz/corpus/$name" -type f | wc -l)
  printf '%-14s %12s %10s %8s %9s  %s\n' "$name" "${runs:-?}" "${rate:-?}" "$FUZZ_SECONDS" "$corpus" "$result"
  if [ "$result" != ok ]; then
    grep -E "ERROR|SUMMARY|runtime error|^[a-z ]+: " "$log" | head -5 | sed 's/^/    /'
  fi
done
exit "$status"

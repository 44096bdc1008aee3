#!/bin/sh
# SPDX-License-Identifier: MIT
# Pictures of the windows on the simulated meters, taken by the window tests without a display:
# once on a 1366x768 screen and once on the same desktop at twice the pixels (QT_SCALE_FACTOR=2).
#   ./scripts/screenshots.sh [OUT]    pictures into OUT/1366x768 and OUT/scale2 (build/screenshots)
#   ./scripts/screenshots.sh --docs   also refreshes the README's pictures in docs/
set -eu
cd "$(dirname "$0")/.."
docs=no
if [ "${1:-}" = "--docs" ]; then docs=yes; shift; fi
out=$(realpath -m "${1:-build/screenshots}")
tests="app_ui scan_ui store_ui acquisition_ui charts_ui"
for t in $tests; do
  [ -x "build/tests/test_$t" ] || { echo "build/tests/test_$t is missing: build first" >&2; exit 1; }
done

# The windows show this as their record folder, so the pictures come out the same from run to
# run; one run of this script at a time has it.
demo=/tmp/kalivor-demo
exec 9>"$demo.lock"
flock 9
export KALIVOR_DEMO_FOLDER="$demo"

shoot() {  # NAME WIDTH HEIGHT SCALE
  dir="$out/$1"
  rm -rf "$dir" && mkdir -p "$dir"
  printf '{"screens":[{"name":"%s","x":0,"y":0,"width":%s,"height":%s,"logicalDpi":96,"logicalBaseDpi":96}]}\n' \
    "$1" "$2" "$3" >"$dir/screen.json"
  for t in $tests; do
    # Tests that check pixels at one scale may fail at another; the pictures are still taken.
    QT_QPA_PLATFORM="offscreen:configfile=$dir/screen.json" QT_SCALE_FACTOR="$4" \
      KALIVOR_SCREENSHOT_DIR="$dir" "build/tests/test_$t" >"$dir/test_$t.log" 2>&1 ||
      echo "note: test_$t failed at $1 (see $dir/test_$t.log)" >&2
  done
  rm "$dir/screen.json"
  echo "$(ls "$dir"/*.png | wc -l) pictures in $dir"
}

shoot 1366x768 1366 768 1
shoot scale2 2732 1536 2

if [ "$docs" = yes ]; then
  for p in main_window main_window_alarm scan_set; do cp "$out/1366x768/$p.png" "docs/$p.png"; done
  echo "docs/ refreshed"
fi

#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# deb_test.sh BUILD_DIR CPACK: packs the build as a .deb (cpack -G DEB) into a temporary folder and
# checks it with check_deb.sh. scripts/package.sh builds the package that is shipped, with the
# hardening flags, and checks that one further.
set -uo pipefail
build=$1
cpack=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/kalivor-cpack.XXXXXX")
trap 'rm -rf "$work"' EXIT
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack -G DEB"
  exit 1
fi
bash "$(dirname "$0")/check_deb.sh" "$work"/kalivor_*.deb

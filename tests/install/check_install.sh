#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# check_install.sh BUILD_DIR CMAKE WITH_UI(0/1): cmake --install into a temporary prefix, then
# check the installed tree (check_tree.sh).
set -uo pipefail
build=$1
cmake=$2
with_ui=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/kalivor-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

if ! "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

bash "$(dirname "$0")/check_tree.sh" "$prefix" "$with_ui"

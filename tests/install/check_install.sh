#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# check_install.sh BUILD_DIR CMAKE WITH_UI(0/1): cmake --install into a temporary prefix, then
# check the installed tree.
set -uo pipefail
build=$1
cmake=$2
with_ui=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/kalivor-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
need_file() { [ -f "$prefix/$1" ] || fail "$1 not installed"; }

if ! "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

# Programs.
programs=(kalivor-cli)
[ "$with_ui" = 1 ] && programs+=(kalivor)
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p not installed as a program"
  need_file "share/man/man1/$p.1"
done

# The man pages render without warnings and name every option the programs know.
for p in "${programs[@]}"; do
  page=$prefix/share/man/man1/$p.1
  [ -f "$page" ] || continue
  if command -v groff >/dev/null; then
    warnings=$(groff -man -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$p.1: $warnings"
  fi
  text=$(MANWIDTH=200 man -l "$page" 2>/dev/null || groff -man -Tutf8 "$page" 2>/dev/null)
  grep -q "$p" <<<"$text" || fail "$p.1 does not render"
  help=$("$prefix/bin/$p" --help 2>&1) || fail "$p --help failed"
  for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    # man turns "-" into a hyphen or a minus sign; compare the words with ASCII dashes.
    grep -q -- "$option" <<<"$(sed 's/[‐−]/-/g' <<<"$text")" || fail "$p.1 does not describe $option"
  done
  for command in $(sed -n 's/^  \([a-z][a-z]*\) .*/\1/p; s/^  \([a-z][a-z]*\)$/\1/p' <<<"$help"); do
    grep -q -- "$p $command" <<<"$text" || fail "$p.1 does not describe the command $command"
  done
done

if [ "$with_ui" = 1 ]; then
  desktop=$prefix/share/applications/kalivor.desktop
  need_file share/applications/kalivor.desktop
  if [ -f "$desktop" ]; then
    if command -v desktop-file-validate >/dev/null; then
      out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
      [ -z "$out" ] || fail "desktop-file-validate: $out"
    else
      fail "desktop-file-validate is not installed (scripts/setup.sh installs desktop-file-utils)"
    fi
    exec_line=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [ -x "$prefix/bin/$exec_line" ] || fail "Exec=$exec_line is not an installed program"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    need_file "share/icons/hicolor/scalable/apps/$icon.svg"
    for size in 16 22 24 32 48 64 128 256; do
      png=$prefix/share/icons/hicolor/${size}x${size}/apps/$icon.png
      if [ ! -f "$png" ]; then
        fail "no ${size}x${size} icon"
        continue
      fi
      # PNG header: width and height, big-endian, at bytes 16 and 20.
      read -r w h < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
      [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "${size}x${size} icon is ${w}x${h}"
    done
  fi
fi

# An installed copy keeps its records in the per-user data folder, never below bin/.
home=$work/home
mkdir -p "$home"
out=$(env -u XDG_DATA_HOME HOME="$home" "$prefix/bin/kalivor-cli" records 2>&1)
grep -qF "$home/.local/share/kalivor/db" <<<"$out" ||
  fail "installed kalivor-cli does not use the per-user folder: $out"
[ ! -e "$prefix/bin/db" ] || fail "records folder made below bin/"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s); installed tree:"
  (cd "$prefix" && find . | sort)
  exit 1
fi
echo "install tree fine: $(cd "$prefix" && find . -type f | wc -l) files"

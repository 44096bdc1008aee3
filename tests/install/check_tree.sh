#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# check_tree.sh PREFIX WITH_UI(0/1): checks an installed tree (cmake --install, or a .deb
# unpacked): programs, man pages, documents, desktop entry, icons, and that an installed copy keeps
# records per user. Exit code 1 after any failure.
set -uo pipefail
prefix=$1
with_ui=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/kalivor-tree.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
need_file() { [ -f "$prefix/$1" ] || fail "$1 not installed"; }
version=$(sed -n 's/^project(kalivor VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")

# Programs.
programs=(kalivor-cli)
[ "$with_ui" = 1 ] && programs+=(kalivor)
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p not installed as a program"
  need_file "share/man/man1/$p.1.gz"
  out=$("$prefix/bin/$p" --version 2>&1)
  [ "$out" = "$p $version" ] || fail "$p --version says \"$out\", not \"$p $version\""
done

# The man pages render without warnings and name every option the programs know.
for p in "${programs[@]}"; do
  [ -f "$prefix/share/man/man1/$p.1.gz" ] || continue
  page=$work/$p.1
  gzip -dc "$prefix/share/man/man1/$p.1.gz" >"$page" || fail "$p.1.gz is no gzip file"
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

# Documents: the copyright in Debian's machine-readable form, the changelog, and the README with
# every picture it links to.
doc=$prefix/share/doc/kalivor
need_file share/doc/kalivor/README.md
[ "$(head -1 "$doc/copyright" 2>/dev/null)" = \
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
  fail "copyright is not in the machine-readable format"
grep -q '^License: MIT' "$doc/copyright" 2>/dev/null || fail "copyright does not name the MIT licence"
first=$(gzip -dc "$doc/changelog.gz" 2>/dev/null | head -1)
[[ "$first" == "kalivor ($version) "*"; urgency="* ]] || fail "changelog.gz starts with \"$first\""
for link in $(grep -o '](\([^)]*\))' "$doc/README.md" 2>/dev/null | sed 's/^](//; s/)$//'); do
  case "$link" in http*|'#'*) continue ;; esac
  [ -e "$doc/$link" ] || fail "README links to $link, which is not installed"
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
for p in "${programs[@]}"; do
  out=$(env -u XDG_DATA_HOME HOME="$home" "$prefix/bin/$p" --help 2>&1)
  grep -qF "Records of this copy: $home/.local/share/kalivor/db" <<<"$out" ||
    fail "$p --help does not say where this copy keeps its records"
done
[ ! -e "$prefix/bin/db" ] || fail "records folder made below bin/"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s); installed tree:"
  (cd "$prefix" && find . | sort)
  exit 1
fi
echo "install tree fine: $(cd "$prefix" && find . -type f | wc -l) files"

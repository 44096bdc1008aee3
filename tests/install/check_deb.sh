#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# check_deb.sh DEB [--hardened]: unpacks the package into a scratch root (dpkg -x) and checks its
# control fields, that its programs are stripped and run from there (--version, list --simulate
# --json), and the tree as check_tree.sh does. --hardened also checks the Debian hardening
# features in the programs (scripts/package.sh builds with them).
set -uo pipefail
deb=$1
hardened=${2:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/kalivor-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

root=$work/root
dpkg -x "$deb" "$root" || { echo "FAIL: dpkg -x $deb"; exit 1; }
field() { dpkg-deb -f "$deb" "$1"; }

[ "$(field Package)" = kalivor ] || fail "Package is $(field Package)"
[ "$(field Section)" = science ] || fail "Section is $(field Section)"
[ "$(field Priority)" = optional ] || fail "Priority is $(field Priority)"
depends=$(field Depends)
for lib in libc6 libstdc++6 libsqlite3-0 libqt6widgets6 qt6-qpa-plugins; do
  grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
# A summary line, then an extended description of more than one line.
[ "$(field Description | wc -l)" -gt 3 ] || fail "no extended description"
[ -z "$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')" ] || fail "files not owned by root"

for p in kalivor kalivor-cli; do
  bin=$root/usr/bin/$p
  [ -x "$bin" ] || { fail "usr/bin/$p missing"; continue; }
  readelf -S "$bin" | grep -q '\.symtab' && fail "usr/bin/$p is not stripped"
  readelf -S "$bin" | grep -q '\.debug_' && fail "usr/bin/$p carries debug sections"
  if [ "$hardened" = --hardened ]; then
    readelf -d "$bin" | grep -Eq 'BIND_NOW|FLAGS.*\bNOW\b' || fail "usr/bin/$p is not linked with -z now"
    readelf -lW "$bin" | grep -q GNU_RELRO || fail "usr/bin/$p has no RELRO segment"
    readelf -hW "$bin" | grep -q 'DYN ' || fail "usr/bin/$p is not position independent"
    syms=$(readelf --dyn-syms -W "$bin")
    grep -q '__stack_chk_fail' <<<"$syms" || fail "usr/bin/$p has no stack protector"
    grep -Eq '__[a-z_]+_chk' <<<"$(grep -v __stack_chk <<<"$syms")" ||
      fail "usr/bin/$p uses no fortified functions"
  fi
done

# The programs work from the unpacked tree: the simulated meters as JSON.
json=$(env -u XDG_DATA_HOME HOME="$work" "$root/usr/bin/kalivor-cli" list --simulate --json 2>&1)
count=$(python3 -c 'import json, sys; print(len(json.loads(sys.stdin.read())))' <<<"$json" 2>&1)
[ "$count" = 2 ] || fail "kalivor-cli list --simulate --json: $json"

bash "$(dirname "$0")/check_tree.sh" "$root/usr" 1 || failures=$((failures + 1))

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s) in $deb"
  exit 1
fi
echo "package fine: $(basename "$deb")"

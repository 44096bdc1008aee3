#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the .deb from the sources in a fresh build folder of its own (PACKAGE_BUILD_DIR, default
# build-package) with Debian's hardening flags, puts it into PACKAGE_DIR (default dist/) and runs
# lintian on it: any error or warning fails the script; then checks the package unpacked
# (tests/install/check_deb.sh, hardening included). Prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${PACKAGE_BUILD_DIR:-build-package}
out=${PACKAGE_DIR:-dist}

for tool in cmake cpack dpkg-buildflags dpkg-shlibdeps lintian; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

# The flags a Debian package build uses, with every hardening feature (bindnow included).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
export CFLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags"
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags"
export LDFLAGS=$(dpkg-buildflags --get LDFLAGS)

rm -rf "$build"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Build type None: the flags above and nothing else, as Debian's CMake builds do.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DKALIVOR_BUILD_TESTS=OFF \
  -DKALIVOR_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

mkdir -p "$out"
rm -f "$out"/kalivor_*.deb
(cd "$build" && cpack -G DEB -B "$root/$out/cpack" >/dev/null)
mv "$out"/cpack/kalivor_*.deb "$out"/
rm -rf "$out/cpack"
deb=$(ls "$out"/kalivor_*.deb)

status=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
# Lintian notes that it runs as root; that is no finding about the package.
grep -v 'running with root privileges' <<<"$report" || true
if [ "$status" -ne 0 ]; then
  echo "package.sh: lintian found errors or warnings in $deb" >&2
  exit 1
fi
bash tests/install/check_deb.sh "$deb" --hardened >&2
echo "$root/$deb"

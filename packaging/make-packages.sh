#!/usr/bin/env bash
# Builds both release packages: the Debian package from the release preset
# and the Windows .zip from the windows preset (MinGW-w64 cross build), and
# puts them into build/packages/.
#
# Needs the Debian packages of the README's "Building packages" section.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/packages
rm -rf "$out"
mkdir -p "$out"
for preset in release windows; do
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset"
  rm -rf "build/$preset/packages"
  (cd "build/$preset" && cpack > /dev/null)
  cp "build/$preset"/packages/*.deb "build/$preset"/packages/*.zip "$out"/ 2> /dev/null || :
done
ls -l "$out"
# One package for each platform, or the script fails.
[[ $(find "$out" -name 'reelmake_*.deb' | wc -l) == 1 ]]
[[ $(find "$out" -name 'reelmake-*-windows-x86_64.zip' | wc -l) == 1 ]]

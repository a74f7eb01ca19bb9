#!/usr/bin/env bash
# Builds both release packages: the Debian package from the release preset
# and the Windows .zip from the windows preset (MinGW-w64 cross build), and
# puts them into build/packages/.
#
# Needs the Debian packages of the README's "Building packages" section.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/packages
mkdir -p "$out"
for preset in release windows; do
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset"
  (cd "build/$preset" && cpack > /dev/null)
  cp "build/$preset"/packages/reelmake-* "build/$preset"/packages/reelmake_* "$out"/ 2> /dev/null || true
done
ls -l "$out"

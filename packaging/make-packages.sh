#!/usr/bin/env bash
# Builds the three release packages into build/packages/:
#
#   reelmake_VERSION-1_ARCH.deb            Debian package: the program linked
#                                          against the system's libraries, built
#                                          in build/pkg-deb
#   reelmake-VERSION-linux-x86_64.tar.gz   any Linux: the statically linked
#                                          program of the release preset
#                                          (build/release)
#   reelmake-VERSION-windows-x86_64.zip    Windows: the windows preset without
#                                          its tests (build/pkg-windows)
#
# Each holds a README for its reader (packaging/README-*) and the manual;
# the .deb and the tarball the examples too. cmake/Packaging.cmake says
# what goes where.
#
# Only the programs, the manual and the documents are built: no tests, and
# nothing runs under Wine. Build folders that exist are reused, so a second
# run takes seconds. Needs the Debian packages of the README's "Building
# packages" section.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every tool the builds need, with the Debian package that has it.
missing=()
for need in cmake:cmake ninja:ninja-build g++:g++ gzip:gzip groff:groff-base \
            dpkg-buildflags:dpkg-dev dpkg-shlibdeps:dpkg-dev file:file \
            x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix; do
  command -v "${need%%:*}" > /dev/null || missing+=("${need#*:}")
done
if ((${#missing[@]})); then
  echo "missing tools; install them with:"
  echo "  sudo apt-get install -y $(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')"
  exit 1
fi

out=build/packages
rm -rf "$out"
mkdir -p "$out"

# DIR followed by cmake's configure arguments: configures and builds DIR,
# showing the output only when a step fails, and makes its package.
package() {
  local dir=$1
  shift
  mkdir -p "$dir"
  local log=$dir/make-packages.log
  if ! { cmake "$@" && cmake --build "$dir"; } > "$log" 2>&1; then
    cat "$log"
    echo "building $dir failed"
    return 1
  fi
  rm -rf "$dir/packages"
  if ! (cd "$dir" && cpack) >> "$log" 2>&1; then
    cat "$log"
    echo "cpack failed in $dir"
    return 1
  fi
  cp "$dir"/packages/reelmake[-_]* "$out"/
}

# The Debian package is built with the release flags and, as Debian builds
# its packages, with the hardening flags of dpkg-buildflags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
package build/pkg-deb -S . -B build/pkg-deb -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DREELMAKE_BUILD_TESTS=OFF -DREELMAKE_STRIP=ON -DREELMAKE_DEBIAN_PACKAGE=ON \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)"
package build/release --preset release
package build/pkg-windows --preset windows -B build/pkg-windows -DREELMAKE_BUILD_TESTS=OFF

ls -l "$out"
# One package of each kind, or the script fails.
[[ $(find "$out" -name 'reelmake_*.deb' | wc -l) == 1 ]]
[[ $(find "$out" -name 'reelmake-*-linux-x86_64.tar.gz' | wc -l) == 1 ]]
[[ $(find "$out" -name 'reelmake-*-windows-x86_64.zip' | wc -l) == 1 ]]

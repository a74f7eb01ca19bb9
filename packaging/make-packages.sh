#!/usr/bin/env bash
# Builds the release packages into build/packages/:
#
#   reelmake_VERSION-1_amd64.deb           Debian package: the program linked
#                                          against the system's libraries, built
#                                          in build/pkg-deb
#   reelmake_VERSION-1_arm64.deb           the same for 64-bit and 32-bit ARM,
#   reelmake_VERSION-1_armhf.deb           cross-built in build/pkg-deb-ARCH
#   reelmake-VERSION-linux-x86_64.tar.gz   any Linux: the statically linked
#                                          program of the release preset
#                                          (build/release)
#   reelmake-VERSION-linux-aarch64.tar.gz  the same for ARM: the statically
#   reelmake-VERSION-linux-armhf.tar.gz    linked program of the aarch64 and
#                                          armhf presets (build/aarch64 and
#                                          build/armhf, which also build the
#                                          tests)
#   reelmake-VERSION-windows-x86_64.zip    Windows: the windows preset without
#                                          its tests (build/pkg-windows)
#
# Each holds a README for its reader (packaging/README-*) and the manual;
# the .debs and the tarballs the examples too. cmake/Packaging.cmake says
# what goes where.
#
# Only the programs, the manual and the documents are built (and the ARM
# presets' tests), and nothing is run. Build folders that exist are reused,
# so a second run takes seconds. Needs the Debian packages of the README's
# "Building packages" section.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every tool the builds need, with the Debian package that has it.
missing=()
for need in cmake:cmake ninja:ninja-build g++:g++ gzip:gzip groff:groff-base \
            dpkg-buildflags:dpkg-dev dpkg-shlibdeps:dpkg-dev file:file \
            x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix \
            aarch64-linux-gnu-g++:g++-aarch64-linux-gnu \
            arm-linux-gnueabihf-g++:g++-arm-linux-gnueabihf \
            qemu-aarch64-static:qemu-user-static; do
  command -v "${need%%:*}" > /dev/null || missing+=("${need#*:}")
done
# dpkg-shlibdeps reads the ARM packages' dependencies from Debian's own ARM
# libraries, installed beside the build machine's.
for library in libstdc++6:arm64 libstdc++6:armhf; do
  dpkg-query -W -f='${Status}' "$library" 2> /dev/null | grep -q "ok installed" ||
    missing+=("$library")
done
if ((${#missing[@]})); then
  echo "missing tools; install them with:"
  if [[ " ${missing[*]}" == *:arm* ]]; then
    echo "  sudo dpkg --add-architecture arm64 && sudo dpkg --add-architecture armhf"
    echo "  sudo apt-get update"
  fi
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

# The Debian packages are built with the release flags and, as Debian builds
# its packages, with the hardening flags of dpkg-buildflags, for the
# architecture in DEB_HOST_ARCH (which dpkg-shlibdeps also reads). DIR, then
# further configure arguments.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
debian_package() {
  local dir=$1
  shift
  package "$dir" -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DREELMAKE_BUILD_TESTS=OFF -DREELMAKE_STRIP=ON -DREELMAKE_DEBIAN_PACKAGE=ON \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" "$@"
}
debian_package build/pkg-deb
package build/release --preset release
for target in aarch64:arm64 armhf:armhf; do
  cpu=${target%%:*}
  arch=${target#*:}
  DEB_HOST_ARCH=$arch debian_package "build/pkg-deb-$arch" "-DCMAKE_TOOLCHAIN_FILE=cmake/linux-$cpu.cmake"
  package "build/$cpu" --preset "$cpu"
done
package build/pkg-windows --preset windows -B build/pkg-windows -DREELMAKE_BUILD_TESTS=OFF

ls -l "$out"
# One package of each kind, or the script fails.
for arch in amd64 arm64 armhf; do
  [[ $(find "$out" -name "reelmake_*_$arch.deb" | wc -l) == 1 ]]
done
for cpu in x86_64 aarch64 armhf; do
  [[ $(find "$out" -name "reelmake-*-linux-$cpu.tar.gz" | wc -l) == 1 ]]
done
[[ $(find "$out" -name 'reelmake-*-windows-x86_64.zip' | wc -l) == 1 ]]

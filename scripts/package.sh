#!/usr/bin/env bash
# Builds Velmoran's Debian package into the folder given (default: packages/), as
# velmoran_<version>_<architecture>.deb. Installs the missing Debian packages first.
#
#   scripts/package.sh [folder]
#
# Prints the path of the package it made as its last line.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
out="${1:-$top/packages}"
build="$top/build-package"

# Debian's own compiler and linker flags, with every hardening feature.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORAN_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j "$(nproc)" --target velmoran
rm -rf "$build/cpack"
if ! cpack --config "$build/CPackConfig.cmake" -B "$build/cpack" >"$build/cpack.log" 2>&1; then
    cat "$build/cpack.log"
    exit 1
fi
mkdir -p "$out"
rm -f "$out"/velmoran_*.deb   # one package only, so that velmoran_*.deb names it
deb="$(find "$build/cpack" -maxdepth 1 -name 'velmoran_*.deb')"
cp "$deb" "$out/"
echo "$(cd "$out" && pwd)/$(basename "$deb")"

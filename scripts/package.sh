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
source "$top/scripts/configure.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
out="${1:-$top/packages}"
build="$release_build"
configure_release_build
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

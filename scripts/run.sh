#!/usr/bin/env bash
# Builds Velmoran and starts it. Installs the missing Debian packages first.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}"

cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORAN_BUILD_TESTS=OFF >/dev/null
cmake --build "$top/build-release" --target velmoran
exec "$top/build-release/app/velmoran" "$@"

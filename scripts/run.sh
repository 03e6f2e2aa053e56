#!/usr/bin/env bash
# Builds Velmoran and starts it. Installs the missing Debian packages first.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
source "$top/scripts/configure.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}"

configure_release_build
cmake --build "$release_build" --target velmoran
exec "$release_build/app/velmoran" "$@"

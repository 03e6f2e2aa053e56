#!/usr/bin/env bash
# Builds Velmoran and starts it on a sample Wine prefix in a temporary folder: a stand-in
# game install (archive, Storm.dll, saves) on c: and stand-in mod archives on d: and e:.
# "Launch D2" runs a stand-in wine that only records what it was asked to start.
# Nothing outside the temporary folder is touched.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
source "$top/scripts/configure.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}"

configure_release_build
cmake --build "$release_build" --target velmoran velmoran_sample_prefix

demo="$(mktemp -d "${TMPDIR:-/tmp}/velmoran-demo-XXXXXX")"
prefix="$("$release_build/tools/velmoran_sample_prefix" "$demo")"
echo "Sample Wine prefix: $prefix"
echo "Game folder:        $prefix/drive_c/Program Files (x86)/Diablo II"
echo "Mod archives:       $demo/drive_d, $demo/drive_e (drives d: and e:)"

export WINEPREFIX="$prefix"
export PATH="$top/tests/helpers/bin:$PATH"
export VELMORAN_WINE_RECORD="$demo/launched.txt"
cd "$prefix/drive_c"
"$release_build/app/velmoran" || true
if [ -f "$VELMORAN_WINE_RECORD" ]; then
    echo "The last Launch D2 asked wine for:"
    cat "$VELMORAN_WINE_RECORD"
fi
echo "The sample prefix stays in $demo; delete it when done."

#!/usr/bin/env bash
# Builds Velmoran and starts it on a sample Wine prefix in a temporary folder: a stand-in
# game install (archive, Storm.dll, saves) on c: and stand-in mod archives on d: and e:.
# "Launch D2" runs a stand-in wine that only records what it was asked to start.
# Nothing outside the temporary folder is touched.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}" googletest libgtest-dev

cmake -S "$top" -B "$top/build-release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build-release" --target velmoran velmoran_sample_prefix

demo="$(mktemp -d "${TMPDIR:-/tmp}/velmoran-demo-XXXXXX")"
prefix="$("$top/build-release/tools/velmoran_sample_prefix" "$demo")"
echo "Sample Wine prefix: $prefix"
echo "Game folder:        $prefix/drive_c/Program Files (x86)/Diablo II"
echo "Mod archives:       $demo/drive_d, $demo/drive_e (drives d: and e:)"

export WINEPREFIX="$prefix"
export PATH="$top/tests/helpers/bin:$PATH"
export VELMORAN_WINE_RECORD="$demo/launched.txt"
cd "$prefix/drive_c"
"$top/build-release/app/velmoran" || true
if [ -f "$VELMORAN_WINE_RECORD" ]; then
    echo "The last Launch D2 asked wine for:"
    cat "$VELMORAN_WINE_RECORD"
fi
echo "The sample prefix stays in $demo; delete it when done."

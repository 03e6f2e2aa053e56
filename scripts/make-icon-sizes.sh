#!/usr/bin/env bash
# Renders the program icon's theme sizes from ui/assets/velmoran.svg into
# ui/assets/icons/velmoran-<size>.png (16 to 256 pixels), which the install rules put into
# the hicolor icon theme. Run it again after changing the SVG, and commit the PNGs.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/install-deps.sh" librsvg2-bin
mkdir -p "$top/ui/assets/icons"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio \
        "$top/ui/assets/velmoran.svg" --output "$top/ui/assets/icons/velmoran-$size.png"
done

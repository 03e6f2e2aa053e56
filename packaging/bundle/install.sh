#!/bin/sh
# Adds Velmoran to the desktop's menu for the current user, pointing at this unpacked
# folder: the desktop entry and the icons go under ~/.local/share. --uninstall takes them
# away again. Move the folder? Run it again from the new place.
#
#   ./install.sh --user              add the desktop entry and icons
#   ./install.sh --user --uninstall  remove them
set -eu
app_id=org.example.velmoran
here="$(cd "$(dirname "$0")" && pwd)"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
entry="$data/applications/$app_id.desktop"
sizes="16 22 24 32 48 64 128 256"

usage() { echo "usage: $0 --user [--uninstall]" >&2; exit 2; }
[ "${1:-}" = --user ] || usage
case "${2:-}" in
"") uninstall=false ;;
--uninstall) uninstall=true ;;
*) usage ;;
esac

# Lets the desktop notice the change at once where it keeps caches.
refresh() {
    if command -v update-desktop-database >/dev/null 2>&1; then
        update-desktop-database -q "$data/applications" 2>/dev/null || true
    fi
    touch "$data/icons/hicolor" 2>/dev/null || true
}

if $uninstall; then
    rm -f "$entry" "$data/icons/hicolor/scalable/apps/$app_id.svg"
    for size in $sizes; do
        rm -f "$data/icons/hicolor/${size}x$size/apps/$app_id.png"
    done
    refresh
    echo "Removed Velmoran's desktop entry and icons from $data"
    exit 0
fi

# The program's path, quoted as the desktop entry format wants it inside Exec: \ " ` $
# escaped inside double quotes, each backslash then doubled, % written as %%.
quoted="$(printf '%s' "$here/velmoran" | sed -e 's/[\\"`$]/\\&/g' -e 's/\\/\\\\/g' -e 's/%/%%/g')"
try_exec="$(printf '%s' "$here/velmoran" | sed -e 's/\\/\\\\/g')"
mkdir -p "$data/applications"
sed -e "s|^Exec=.*|Exec=\"$(printf '%s' "$quoted" | sed 's/[|&\\]/\\&/g')\"|" \
    -e "s|^TryExec=.*|TryExec=$(printf '%s' "$try_exec" | sed 's/[|&\\]/\\&/g')|" \
    "$here/share/applications/$app_id.desktop" >"$entry.new"
mv "$entry.new" "$entry"
mkdir -p "$data/icons/hicolor/scalable/apps"
cp "$here/share/icons/hicolor/scalable/apps/$app_id.svg" "$data/icons/hicolor/scalable/apps/"
for size in $sizes; do
    mkdir -p "$data/icons/hicolor/${size}x$size/apps"
    cp "$here/share/icons/hicolor/${size}x$size/apps/$app_id.png" \
        "$data/icons/hicolor/${size}x$size/apps/"
done
refresh
echo "Added Velmoran to the menu: $entry"

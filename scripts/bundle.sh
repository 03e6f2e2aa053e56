#!/usr/bin/env bash
# Builds Velmoran as one self-contained folder for any current Linux, the Steam Deck
# included, and packs it into the folder given (default: packages/) as
# velmoran-<version>-linux-x86_64.tar.gz. Everything in it is taken from this machine's
# Debian packages: the program, the Qt libraries it loads and what they need, the Qt
# plugins, Liberation Sans, the icons, desktop entry, manual page and the licences. Only
# what every Linux desktop has is left to the system (packaging/bundle/system-libraries).
# Installs the missing Debian packages first.
#
#   scripts/bundle.sh [folder]
#
# Prints the path of the tarball it made as its last line.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
source "$top/scripts/configure.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}" "${BUNDLE_PACKAGES[@]}"
out="${1:-$top/packages}"
build="$release_build"
app_id=org.example.velmoran
qt_plugins=/usr/lib/x86_64-linux-gnu/qt6/plugins

# Left to the system: the libraries packaging/bundle/system-libraries names.
system_libraries="$(grep -v '^#' "$top/packaging/bundle/system-libraries")"

# The Qt plugins the program loads: X11 and Wayland windows, the link pointer's image format
# (PNG is built into Qt), OpenGL on X11, and the compose-key and IBus input methods.
PLUGINS=(platforms/libqxcb.so
         xcbglintegrations/libqxcb-glx-integration.so
         xcbglintegrations/libqxcb-egl-integration.so
         platforms/libqwayland-generic.so
         wayland-shell-integration/libxdg-shell.so
         wayland-decoration-client/libbradient.so
         imageformats/libqico.so
         platforminputcontexts/libcomposeplatforminputcontextplugin.so
         platforminputcontexts/libibusplatforminputcontextplugin.so)

# The program as the Debian package ships it, in the build that scripts/run.sh and
# scripts/package.sh share.
configure_release_build
cmake --build "$build" -j "$(nproc)" --target velmoran
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
name="velmoran-$version-linux-x86_64"
stage="$build/bundle"
dir="$stage/$name"
rm -rf "$stage"
mkdir -p "$dir/lib" "$dir/plugins" "$dir/fonts" "$dir/licences"

# The Debian package that installed a file, by its path before or after /lib's merge into /usr.
declare -A packages=()
note_package() {
    local path="$1" package
    package="$(dpkg -S "$path" 2>/dev/null || dpkg -S "${path#/usr}" 2>/dev/null ||
        dpkg -S "/usr$path" 2>/dev/null)" || { echo "no Debian package holds $path" >&2; exit 1; }
    packages["${package%%:*}"]=1
}

# --- The program, its plugins and every library they load ---------------------------------
install -m 755 "$build/app/velmoran" "$dir/velmoran"
strip --strip-unneeded "$dir/velmoran"
binaries=("$dir/velmoran")
for plugin in "${PLUGINS[@]}"; do
    [ -f "$qt_plugins/$plugin" ] || { echo "missing Qt plugin: $qt_plugins/$plugin" >&2; exit 1; }
    mkdir -p "$dir/plugins/$(dirname "$plugin")"
    install -m 644 "$qt_plugins/$plugin" "$dir/plugins/$plugin"
    note_package "$qt_plugins/$plugin"
    binaries+=("$dir/plugins/$plugin")
done
# ldd lists what each binary loads, directly or not, as this machine resolves it.
for binary in "${binaries[@]}"; do
    ldd "$binary" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 }'
done | sort -u | while read -r soname path; do
    grep -qxF "$soname" <<<"$system_libraries" && continue
    install -m 644 "$(realpath "$path")" "$dir/lib/$soname"
    echo "$path"
done >"$stage/libraries"
while read -r path; do note_package "$path"; done <"$stage/libraries"

# Each binary finds the bundled libraries beside itself, wherever the folder is unpacked.
# DT_RPATH rather than DT_RUNPATH: it comes before LD_LIBRARY_PATH, which launchers such as
# Steam set to libraries of their own.
for library in "$dir"/lib/*; do patchelf --force-rpath --set-rpath '$ORIGIN' "$library"; done
for plugin in "${PLUGINS[@]}"; do
    patchelf --force-rpath --set-rpath '$ORIGIN/../../lib' "$dir/plugins/$plugin"
done
patchelf --force-rpath --set-rpath '$ORIGIN/lib' "$dir/velmoran"
printf '[Paths]\nPrefix = .\nPlugins = plugins\n' >"$dir/qt.conf"

# --- Font, desktop integration, manual page, licences -------------------------------------
# Added by the program only where the system has none of the design's faces.
for face in Regular Bold; do
    font="/usr/share/fonts/truetype/liberation/LiberationSans-$face.ttf"
    install -m 644 "$font" "$dir/fonts/"
    note_package "$font"
done
install -D -m 644 "$top/packaging/$app_id.desktop" "$dir/share/applications/$app_id.desktop"
install -D -m 644 "$top/packaging/$app_id.metainfo.xml" "$dir/share/metainfo/$app_id.metainfo.xml"
install -D -m 644 "$top/ui/assets/velmoran.svg" "$dir/share/icons/hicolor/scalable/apps/$app_id.svg"
for size in 16 22 24 32 48 64 128 256; do
    install -D -m 644 "$top/ui/assets/icons/velmoran-$size.png" \
        "$dir/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
done
install -D -m 644 "$build/packaging/velmoran.1.gz" "$dir/share/man/man1/velmoran.1.gz"
install -m 755 "$top/packaging/bundle/install.sh" "$dir/install.sh"
install -m 644 "$top/packaging/bundle/README" "$dir/README"
install -D -m 644 "$top/packaging/copyright" "$dir/licences/velmoran/copyright"
for package in "${!packages[@]}"; do
    install -D -m 644 "$(realpath "/usr/share/doc/$package/copyright")" \
        "$dir/licences/$package/copyright"
done
# The licence texts those files name in Debian's /usr/share/common-licenses, which other
# systems do not have.
grep -rhoE '/usr/share/common-licenses/[A-Za-z0-9.+_-]*[A-Za-z0-9+]' "$dir/licences" | sort -u |
    while read -r text; do
        [ -f "$text" ] && install -D -m 644 "$(realpath "$text")" \
            "$dir/licences/common-licenses/$(basename "$text")"
    done
printf '%s\n' "${!packages[@]}" | sort >"$dir/licences/PACKAGES"
dpkg-query -W -f='${Package} ${Version}\n' $(cat "$dir/licences/PACKAGES") \
    >"$dir/licences/PACKAGES"

# --- The tarball: same bytes for the same files ---------------------------------------------
mkdir -p "$out"
tarball="$(cd "$out" && pwd)/$name.tar.gz"
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@${SOURCE_DATE_EPOCH:-$(git -C "$top" log -1 --format=%ct 2>/dev/null || echo 0)}" \
    -C "$stage" -cf - "$name" | gzip -9n >"$tarball"
echo "$tarball"

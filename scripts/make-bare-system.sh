#!/usr/bin/env bash
# Makes a bare Debian 12 system in the folder given: debootstrap's minimal base and only the
# libraries that every Linux desktop has (X11 and xcb, OpenGL and EGL, fontconfig and
# freetype, one font), no Qt. scripts/check-bundle.sh runs the self-contained bundle in it.
#
#   scripts/make-bare-system.sh FOLDER
#
# Needs root (debootstrap, chroot) and Debian's mirror (VELMORAN_DEBIAN_MIRROR, default
# http://deb.debian.org/debian). The folder is made afresh: an existing one is replaced
# only once the new system is complete. Exits non-zero, saying why, when it cannot be made.
set -euo pipefail

# The libraries the bundle leaves to the system, as Debian packages them.
BARE_PACKAGES=(libx11-6 libxcb1 libgl1 libegl1 libopengl0 libfontconfig1 libfreetype6
               fonts-dejavu-core)

[ $# -eq 1 ] || { echo "usage: $0 FOLDER" >&2; exit 2; }
target="$(realpath -m "$1")"
mirror="${VELMORAN_DEBIAN_MIRROR:-http://deb.debian.org/debian}"

if [ "$(id -u)" -ne 0 ]; then
    echo "cannot make the bare system: debootstrap and chroot need root (run as root, or" \
         "through sudo)" >&2
    exit 1
fi
if ! command -v debootstrap >/dev/null; then
    echo "cannot make the bare system: debootstrap is not installed (apt-get install" \
         "debootstrap)" >&2
    exit 1
fi

mkdir -p "$(dirname "$target")"
new="$(mktemp -d "$target.new-XXXXXX")"
log="$new.log"
trap 'rm -rf "$new" "$log"' EXIT
if ! debootstrap --variant=minbase bookworm "$new" "$mirror" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "cannot make the bare system: debootstrap of bookworm from $mirror failed" \
         "(log above)" >&2
    exit 1
fi
if ! chroot "$new" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends "${BARE_PACKAGES[@]}" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "cannot make the bare system: installing ${BARE_PACKAGES[*]} into it failed" \
         "(log above)" >&2
    exit 1
fi
chroot "$new" apt-get clean
printf '%s\n' "${BARE_PACKAGES[@]}" >"$new/.velmoran-bare-packages"
rm -rf "$target" "$log"
mv "$new" "$target"
trap - EXIT
echo "bare system ready: $target"

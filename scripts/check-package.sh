#!/usr/bin/env bash
# Builds Velmoran's Debian package (scripts/package.sh) and checks it as an installed copy
# would be used: the desktop entry, the AppStream metadata, the manual page and the
# package itself pass their validators; the package unpacks (dpkg-deb -x) into a
# temporary root holding every file the desktop needs; and the unpacked program, started
# under Xvfb on a sample Wine prefix, shows its main window with the window class that
# the desktop entry names. Run by scripts/test.sh on every CI run.
#
#   scripts/check-package.sh
#
# The package's build folder also builds the sample-prefix builder.
# Exits non-zero when any check fails.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
source "$top/scripts/configure.sh"
build="$release_build"
app_id=org.example.velmoran

work="$(mktemp -d "${TMPDIR:-/tmp}/velmoran-package-XXXXXX")"
program_pid=
xvfb_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
pass() { echo "ok: $*"; }
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# --- The package ----------------------------------------------------------------------
"$top/scripts/package.sh" "$top/packages" | tee "$work/package.log"
deb="$(tail -n 1 "$work/package.log")"
echo
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
echo "Installed size: $(dpkg-deb --field "$deb" Installed-Size) KiB"
echo

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop="$root/usr/share/applications/$app_id.desktop"
metainfo="$root/usr/share/metainfo/$app_id.metainfo.xml"
manual="$root/usr/share/man/man1/velmoran.1.gz"
program="$root/usr/bin/velmoran"

missing=()
for file in "$program" "$desktop" "$metainfo" "$manual" \
    "$root/usr/share/doc/velmoran/copyright" "$root/usr/share/doc/velmoran/changelog.gz" \
    "$root/usr/share/icons/hicolor/scalable/apps/$app_id.svg"; do
    [ -s "$file" ] || missing+=("${file#"$root"}")
done
for size in 16 22 24 32 48 64 128 256; do
    icon="$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png"
    if ! file "$icon" 2>/dev/null | grep -q "PNG image data, $size x $size,"; then
        missing+=("${icon#"$root"} ($size x $size PNG)")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    pass "the package holds the program, desktop entry, metadata, icons, manual page and docs"
else
    fail "missing from the package: ${missing[*]}"
fi

# The three names that must agree: the desktop entry, the metadata's launchable and icon,
# and the program's own desktop file name (Qt keeps it as UTF-16 text).
desktop_value() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
if [ "$(desktop_value Exec)" = velmoran ] && [ "$(desktop_value Icon)" = "$app_id" ] &&
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" &&
    grep -q "<id>$app_id</id>" "$metainfo" && strings -e l "$program" | grep -qx "$app_id"; then
    pass "desktop entry, metadata and program all use $app_id"
else
    fail "desktop entry, metadata and program do not all use $app_id"
fi

# --- Validators -------------------------------------------------------------------------
# desktop-file-validate exits 0 on hints: any output at all fails the check.
if output="$(desktop-file-validate "$desktop" 2>&1)" && [ -z "$output" ]; then
    pass "desktop-file-validate: no error, no hint"
else
    fail "desktop-file-validate: $output"
fi
if appstreamcli validate --no-net --strict "$metainfo"; then
    pass "appstreamcli validate --no-net --strict"
else
    fail "appstreamcli validate --no-net --strict"
fi
# lintian's own check of manual pages, which fails on any groff warning.
if output="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$manual" 2>&1 >/dev/null)" && [ -z "$output" ]; then
    pass "man -l: the manual page formats without a warning"
else
    fail "man -l: $output"
fi
# Info tags are shown but do not fail the check.
if lintian --fail-on error,warning --info --display-info "$deb"; then
    pass "lintian: no error, no warning"
else
    fail "lintian"
fi

# --- The unpacked program, started on a sample prefix --------------------------------------
sample_tool="$build/tools/velmoran_sample_prefix"
cmake --build "$build" --target velmoran_sample_prefix >/dev/null
prefix="$("$sample_tool" "$work/sample")"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 300); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
export DISPLAY=":$(head -n 1 "$work/display")"

mkdir -m 700 "$work/runtime" "$work/home"
HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" WINEPREFIX="$prefix" \
    "$program" >"$work/program.log" 2>&1 &
program_pid=$!

# The main window, mapped: at most 30 s on a busy machine.
window="$(timeout 30 xdotool search --sync --onlyvisible --name '^Velmoran$' 2>/dev/null |
    head -n 1)" || true
if [ -n "$window" ] && kill -0 "$program_pid" 2>/dev/null; then
    pass "the unpacked program shows its main window on a sample prefix"
    wm_class="$(xprop -id "$window" WM_CLASS)"
    if [ "$wm_class" = "WM_CLASS(STRING) = \"velmoran\", \"$(desktop_value StartupWMClass)\"" ]; then
        pass "window class matches StartupWMClass: $wm_class"
    else
        fail "window class does not match StartupWMClass=$(desktop_value StartupWMClass): $wm_class"
    fi
    if xprop -id "$window" _NET_WM_ICON | grep -q 'Icon ('; then
        pass "the main window carries the program icon"
    else
        fail "the main window has no icon"
    fi
else
    fail "the unpacked program did not show its main window within 30 s"
    cat "$work/xvfb.log" "$work/program.log"
fi
kill "$program_pid" 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true
program_pid=

echo
if [ "$failures" -eq 0 ]; then
    echo "Package checks passed: $deb"
else
    echo "Package checks failed: $failures"
    exit 1
fi

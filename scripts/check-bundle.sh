#!/usr/bin/env bash
# Builds the self-contained bundle (scripts/bundle.sh) and checks it where a user of another
# Linux would run it: a bare Debian system with nothing but the desktop's base libraries
# (scripts/make-bare-system.sh), no Qt. Inside it, ldd finds every library of every bundled
# binary, in the bundle or among the libraries left to the system; the unpacked program,
# started on a private Xvfb of this machine, shows its main window with its window class,
# icon, and drawn pixel for pixel as the Debian build draws it here; it finds the game in a
# sample Wine prefix, and Backup and Undo move the game's archive away and back; on a
# headless Weston it opens its window through Wayland; install.sh adds the desktop entry
# and icons and takes them away. Run by scripts/test.sh.
#
#   scripts/check-bundle.sh
#
# The bare system is kept in ~/.cache/velmoran/bare-bookworm
# (VELMORAN_BARE_SYSTEM) between runs and made afresh when its recipe changed, and always
# where CI=true. Needs root. The screenshots stay in build-release/bundle-check/.
# Exits non-zero when any check fails, or when the bare system cannot be made.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}" "${BUNDLE_PACKAGES[@]}" \
    "${BUNDLE_CHECK_PACKAGES[@]}"
source "$top/scripts/configure.sh"
build="$release_build"
app_id=org.example.velmoran
started="$(date +%s)"

failures=0
pass() { echo "ok: $*"; }
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

if [ "$(id -u)" -ne 0 ]; then
    echo "FAILED: the bundle is checked inside a bare system through chroot, which needs root;" \
        "run this as root (or scripts/test.sh through sudo)"
    exit 1
fi

# --- The bundle --------------------------------------------------------------------------
work="$(mktemp -d "${TMPDIR:-/tmp}/velmoran-bundle-XXXXXX")"
if ! "$top/scripts/bundle.sh" "$top/packages" | tee "$work/bundle.log"; then
    echo "FAILED: scripts/bundle.sh"
    rm -rf "$work"
    exit 1
fi
tarball="$(tail -n 1 "$work/bundle.log")"
name="$(basename "$tarball" .tar.gz)"
shots="$build/bundle-check"
rm -rf "$shots"
mkdir -p "$shots"
echo "Tarball: $(du -h "$tarball" | cut -f1) ($(stat -c %s "$tarball") bytes), unpacked" \
    "$(tar -xzf "$tarball" -O | wc -c | numfmt --to=iec)"

# --- The bare system ---------------------------------------------------------------------
recipe="$(sha256sum "$top/scripts/make-bare-system.sh" | cut -d' ' -f1)"
if [ "${CI:-}" = true ]; then
    bare="$work/bare"
else
    bare="${VELMORAN_BARE_SYSTEM:-${XDG_CACHE_HOME:-$HOME/.cache}/velmoran/bare-bookworm}"
fi
if [ "$(cat "$bare/.velmoran-recipe" 2>/dev/null)" != "$recipe" ]; then
    echo "Making the bare system in $bare"
    made="$(date +%s)"
    if ! "$top/scripts/make-bare-system.sh" "$bare"; then
        echo "FAILED: the bare system could not be made (reason above)"
        rm -rf "$work"
        exit 1
    fi
    echo "$recipe" >"$bare/.velmoran-recipe"
    echo "Bare system made in $(($(date +%s) - made)) s"
fi
# This run's files lie inside the bare system at the same path as here, and go with it;
# those of runs that were killed, whose folder here is gone, go now.
inside="$bare$work"
for old in "$bare$(dirname "$work")"/velmoran-bundle-*; do
    [ -e "$old" ] && [ ! -e "${old#"$bare"}" ] && rm -rf "$old"
done

program_pid=
xvfb_pid=
weston_pid=
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$inside"
    rm -rf "$work"
}
trap cleanup EXIT

# Runs the command that follows it in the bare system as root, with /proc, /dev and the X
# sockets of this machine bound in; the bindings end with the command. Each step execs the
# next, so that a background run's process id is the program's own.
in_bare=(unshare --mount --propagation private sh -c '
    root="$1"; shift
    mount --bind /proc "$root/proc" && mount --rbind /dev "$root/dev" &&
        mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix" && exec chroot "$root" "$@"' \
    in_bare "$bare")

home="$work/home/player"
folder="$home/Velmoran bundle" # a blank in the path, as users' folders have
mkdir -p "$bare$folder" /tmp/.X11-unix "$bare/tmp/.X11-unix"
tar -xzf "$tarball" -C "$bare$folder"
here="$folder/$name"
echo "Bare system: $(chroot "$bare" dpkg-query -W -f='.\n' | wc -l) packages," \
    "$(chroot "$bare" dpkg-query -W -f='${Package}\n' | grep -c -E '^(libqt|qt6)' || true) of Qt;" \
    "the bundle unpacked at $here"

# --- Every library found, in the bundle or among those left to the system ---------------
system_libraries="$(grep -v '^#' "$top/packaging/bundle/system-libraries")"
mapfile -t binaries < <(cd "$bare$here" &&
    find . -type f \( -name velmoran -o -name '*.so*' \) | sed "s|^\.|$here|" | sort)
"${in_bare[@]}" sh -c 'for f in "$@"; do echo "== $f"; ldd "$f" 2>&1; done; true' ldd "${binaries[@]}" \
    >"$work/ldd.log"
# Each library not found, with the bundled binaries that need it.
missing="$(awk '/^== / { binary = substr($0, 4); sub(/.*\//, "", binary) }
    /not found/ && !seen[$1, binary]++ { needers[$1] = needers[$1] " " binary }
    /not a dynamic/ { needers["(not a dynamic executable)"] = needers["(not a dynamic executable)"] " " binary }
    END { for (soname in needers) printf "%s, needed by%s; ", soname, needers[soname] }' \
    "$work/ldd.log")"
outside=()
while IFS=$'\t' read -r soname path; do
    case "$path" in
    "$here"/*) ;;
    *) outside+=("$soname") ;;
    esac
done < <(sed -n 's/^[[:space:]]*\([^[:space:]]*\) => \(.*\) (0x[0-9a-f]*)$/\1\t\2/p' "$work/ldd.log" |
    sort -u)
mapfile -t outside < <(printf '%s\n' "${outside[@]}" | sort -u)
unexpected=()
# A library the bundle holds may still come from the system for a system library's own
# needs (the system's freetype takes the system's libpng): only the others are unexpected.
for soname in "${outside[@]}"; do
    grep -qxF "$soname" <<<"$system_libraries" || [ -e "$bare$here/lib/$soname" ] ||
        unexpected+=("$soname")
done
if [ -z "$missing" ] && [ ${#unexpected[@]} -eq 0 ]; then
    pass "ldd in the bare system finds every library of ${#binaries[@]} bundled binaries"
else
    fail "ldd in the bare system: ${missing:-nothing missing}; needed from outside the" \
        "bundle but not left to the system: ${unexpected[*]:-none}"
fi
echo "Taken from the system: ${outside[*]}"

# Launchers such as Steam start programs with LD_LIBRARY_PATH set to libraries of their own:
# those must not take the bundled libraries' place. Copies of the bundled ones stand in.
decoys="$work/launcher-libraries"
mkdir -p "$bare$decoys"
cp -l "$bare$here"/lib/* "$bare$decoys/"
"${in_bare[@]}" env "LD_LIBRARY_PATH=$decoys" sh -c 'for f in "$@"; do ldd "$f" 2>&1; done; true' ldd \
    "${binaries[@]}" >"$work/ldd-launcher.log"
if ! grep -q "$decoys/" "$work/ldd-launcher.log"; then
    pass "with LD_LIBRARY_PATH set by a launcher, the bundled libraries are still the ones loaded"
else
    fail "LD_LIBRARY_PATH takes the bundled libraries' place:" \
        "$(grep -o "$decoys/[^ ]*" "$work/ldd-launcher.log" | sort -u | tr '\n' ' ')"
fi
glibc="$(for f in "${binaries[@]}"; do objdump -T "$bare$f"; done |
    grep -o 'GLIBC_[0-9.]*' | sort -V | tail -n 1)"
glibcxx="$(for f in "${binaries[@]}"; do objdump -T "$bare$f"; done |
    grep -o 'GLIBCXX_[0-9.]*' | sort -V | tail -n 1)"
echo "Newest symbol versions needed: $glibc, $glibcxx"

# --- The program on a private Xvfb: once as Debian's build here, once from the bundle -----
sample_tool="$build/tools/velmoran_sample_prefix"
cmake --build "$build" --target velmoran_sample_prefix >/dev/null
prefix="$("$sample_tool" "$work/sample")"
game="$prefix/drive_c/Program Files (x86)/Diablo II"
cp -a "$work/sample" "$inside/sample"
mkdir -p -m 700 "$work/runtime" "$inside/runtime"

source "$top/scripts/xvfb.sh"
start_private_xvfb "$work"
display="$DISPLAY"

# The same clean environment for both runs.
run_env=(env -i "DISPLAY=$display" "HOME=$home" "XDG_RUNTIME_DIR=$work/runtime"
    "WINEPREFIX=$prefix" LANG=C.UTF-8 PATH=/usr/bin:/bin)

# Waits for the main window (at most 30 s, while the program runs) and prints its id.
main_window() {
    local window
    for _ in $(seq 300); do
        kill -0 "$program_pid" 2>/dev/null || return 1
        window="$(xdotool search --onlyvisible --name '^Velmoran$' 2>/dev/null | head -n 1)" || true
        [ -n "$window" ] && echo "$window" && return 0
        sleep 0.1
    done
    return 1
}
# Saves a window's picture once two grabs in a row agree, so that it is drawn completely.
grab() {
    local window="$1" file="$2"
    import -window "$window" "$file.a.png"
    for _ in $(seq 50); do
        sleep 0.2
        import -window "$window" "$file.b.png"
        [ "$(compare -metric AE "$file.a.png" "$file.b.png" null: 2>&1)" = 0 ] && break
        mv "$file.b.png" "$file.a.png"
    done
    mv "$file.a.png" "$file"
    rm -f "$file.b.png"
}
stop_program() {
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
    program_pid=
}

mkdir -p "$home"
"${run_env[@]}" "$build/app/velmoran" >"$work/debian.log" 2>&1 &
program_pid=$!
window="$(main_window)" || true
if [ -n "$window" ]; then
    grab "$window" "$shots/debian.png"
else
    fail "Debian's build did not show its main window within 30 s, or ended"
    cat "$work/debian.log"
fi
stop_program

t0="$(date +%s%N)"
"${in_bare[@]}" "${run_env[@]}" "$here/velmoran" >"$work/bundle.log" 2>&1 &
program_pid=$!
window="$(main_window)" || true
t1="$(date +%s%N)"
if [ -n "$window" ] && kill -0 "$program_pid" 2>/dev/null; then
    pass "the bundled program shows its main window in the bare system, after" \
        "$(((t1 - t0) / 1000000)) ms"
    check_main_window "$window" "$bare$here/share/applications/$app_id.desktop"
    grab "$window" "$shots/bundle.png"
    if [ -s "$shots/debian.png" ]; then
        differing="$(compare -metric AE "$shots/debian.png" "$shots/bundle.png" \
            "$shots/difference.png" 2>&1 >/dev/null)" || true
        if [ "$differing" = 0 ]; then
            pass "the main window is drawn pixel for pixel as Debian's build draws it" \
                "($(identify -format '%wx%h' "$shots/bundle.png"))"
        else
            fail "the main window differs from Debian's build in $differing pixels:" \
                "$shots/debian.png, $shots/bundle.png, $shots/difference.png"
        fi
    fi

    # Backup, then Undo, clicked as a user would; each shows its message, closed with Enter.
    menu_height=$(($(xdotool getwindowgeometry --shell "$window" | sed -n 's/^HEIGHT=//p') - 378))
    click_and_confirm() { # caption, y of the button in the window's client area
        xdotool mousemove --window "$window" 48 $((menu_height + $2)) click 1
        local message=
        for _ in $(seq 150); do
            message="$(xdotool search --onlyvisible --name '^Velmoran$' 2>/dev/null |
                grep -vx "$window" | head -n 1)" || true
            [ -n "$message" ] && break
            sleep 0.1
        done
        if [ -z "$message" ]; then
            fail "$1 showed no message within 15 s"
            return
        fi
        grab "$message" "$shots/$1-message.png"
        xdotool windowfocus --sync "$message" key --clearmodifiers Return
        for _ in $(seq 150); do
            xdotool search --onlyvisible --name '^Velmoran$' 2>/dev/null | grep -qvx "$window" ||
                return 0
            sleep 0.1
        done
        fail "$1's message did not close on Enter"
    }
    original="$work/original-patch_d2.mpq"
    cp "$game/patch_d2.mpq" "$original"
    click_and_confirm backup 24
    if [ ! -e "$bare$game/patch_d2.mpq" ] &&
        cmp -s "$original" "$bare$game/Backup/patch_d2.mpq" &&
        [ "$(getfattr --only-values -n user.DOSATTRIB \
            "$bare$game/Backup/patch_d2.mpq" 2>/dev/null)" = 0x2 ]; then
        pass "Backup found the game in the sample prefix and moved its archive into the" \
            "hidden backup"
    else
        fail "Backup did not move the game's archive into the hidden backup:" \
            "$(cd "$bare$game" && find . | sort | tr '\n' ' ')"
    fi
    click_and_confirm undo 296
    if cmp -s "$original" "$bare$game/patch_d2.mpq" &&
        [ ! -e "$bare$game/Backup" ]; then
        pass "Undo put the game's own archive back and removed the backup folder"
    else
        fail "Undo did not restore the game's archive:" \
            "$(cd "$bare$game" && find . | sort | tr '\n' ' ')"
    fi
else
    fail "the bundled program did not show its main window in the bare system within 30 s," \
        "or ended"
    cat "$work/xvfb.log" "$work/bundle.log"
fi
stop_program
if grep -v '^$' "$work/bundle.log" >/dev/null; then
    echo "The program's output in the bare system:"
    cat "$work/bundle.log"
fi

# --- The same on a Wayland desktop: a headless Weston of this machine ---------------------
# Its socket lies inside the bare system, so that the program finds it there. What the
# program asks of the compositor (WAYLAND_DEBUG) tells that its window was made and drawn.
wayland="$work/wayland"
mkdir -p -m 700 "$bare$wayland"
XDG_RUNTIME_DIR="$bare$wayland" weston --backend=headless-backend.so --socket=velmoran \
    --idle-time=0 >"$work/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 300); do
    [ -S "$bare$wayland/velmoran" ] && break
    sleep 0.1
done
t0="$(date +%s%N)"
"${in_bare[@]}" env -i "WAYLAND_DISPLAY=$wayland/velmoran" XDG_SESSION_TYPE=wayland \
    "XDG_RUNTIME_DIR=$work/runtime" "HOME=$home" "WINEPREFIX=$prefix" LANG=C.UTF-8 \
    PATH=/usr/bin:/bin WAYLAND_DEBUG=1 "$here/velmoran" >"$work/wayland.log" 2>&1 &
program_pid=$!
drawn=
for _ in $(seq 300); do
    surface="$(sed -n 's/.*get_xdg_surface(new id xdg_surface@[0-9]*, \(wl_surface@[0-9]*\)).*/\1/p' \
        "$work/wayland.log" | head -n 1)"
    if [ -n "$surface" ] && grep -qF "$surface.attach(wl_buffer@" "$work/wayland.log"; then
        drawn="$(($(date +%s%N) - t0))"
        break
    fi
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -n "$drawn" ] && grep -qF 'xdg_toplevel@' "$work/wayland.log" &&
    grep -q 'xdg_toplevel@[0-9]*\.set_title("Velmoran")' "$work/wayland.log" &&
    grep -q "xdg_toplevel@[0-9]*\.set_app_id(\"$app_id\")" "$work/wayland.log"; then
    pass "on Wayland, the bundled program shows its main window, titled Velmoran with the" \
        "app id $app_id, drawn after $((drawn / 1000000)) ms"
else
    fail "on Wayland, the bundled program did not show its main window within 30 s"
    grep -v '^\[' "$work/wayland.log" | tail -n 20
    tail -n 20 "$work/weston.log"
fi
stop_program
kill "$weston_pid" 2>/dev/null || true
wait "$weston_pid" 2>/dev/null || true
weston_pid=
if grep -v '^\[' "$work/wayland.log" | grep -q .; then
    echo "The program's output on Wayland:"
    grep -v '^\[' "$work/wayland.log"
fi

# --- The desktop entry for this user, added and taken away ------------------------------
entry="$home/.local/share/applications/$app_id.desktop"
if "${in_bare[@]}" env -i "HOME=$home" PATH=/usr/bin:/bin "$here/install.sh" --user &&
    [ -s "$bare$entry" ] &&
    [ -s "$bare$home/.local/share/icons/hicolor/48x48/apps/$app_id.png" ] &&
    grep -qxF "Exec=\"$here/velmoran\"" "$bare$entry" &&
    output="$(desktop-file-validate "$bare$entry" 2>&1)" && [ -z "$output" ]; then
    pass "install.sh --user adds a valid desktop entry pointing at the unpacked program"
else
    fail "install.sh --user: ${output:-} $(cat "$bare$entry" 2>/dev/null)"
fi
if "${in_bare[@]}" env -i "HOME=$home" PATH=/usr/bin:/bin "$here/install.sh" --user --uninstall &&
    [ -z "$(find "$bare$home/.local/share" -name "$app_id.*")" ]; then
    pass "install.sh --user --uninstall takes the entry and icons away"
else
    fail "install.sh --user --uninstall left: $(find "$bare$home/.local/share" -name "$app_id.*")"
fi

echo
echo "Bundle check took $(($(date +%s) - started)) s"
if [ "$failures" -eq 0 ]; then
    echo "Bundle checks passed: $tarball"
else
    echo "Bundle checks failed: $failures"
    exit 1
fi

#!/usr/bin/env bash
# Runs the README's own commands as a newcomer would, one after another on this checkout:
# in the README's order, then in reverse. The commands are the README's indented lines that
# start with "scripts/", so a command added there is checked here too. A command that opens
# the main window (on a private Xvfb) passes when the window shows with its title and window
# class and closes through its Exit menu; the demo is used on the way, as the README tells:
# drive d:, Find, select an archive, Backup, Replace, Launch D2, Undo. Any other command
# passes when it exits with 0. scripts/test.sh is left out: it is what runs this stage.
#
#   scripts/check-readme.sh
#
# Fails naming each command that failed, with its last lines.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
source "$top/scripts/packages.sh"
"$top/scripts/install-deps.sh" "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}" imagemagick

work="$(mktemp -d "${TMPDIR:-/tmp}/velmoran-readme-XXXXXX")"
command_pid=
xvfb_pid=
cleanup() {
    [ -n "$command_pid" ] && kill -- "-$command_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 300); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
export DISPLAY=":$(head -n 1 "$work/display")"

mapfile -t commands < <(sed -n 's/^    \(scripts\/[^ ].*\)$/\1/p' "$top/README.md" |
    grep -v '^scripts/test\.sh\b' | awk '!seen[$0]++')
if [ ${#commands[@]} -eq 0 ]; then
    echo "FAILED: the README names no command under scripts/"
    exit 1
fi
echo "The README's commands: ${commands[*]}"

failures=0
step_failed() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# Polls "$@" every tenth of a second until it succeeds or SECONDS passes; a busy machine
# only makes it wait longer.
wait_for() {
    local seconds="$1"
    shift
    local end=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.1
    done
}

# --- The main window, driven through the X server as a user would ---------------------------
# Controls are found from the window's fixed design: positions in twips, 15 to a pixel,
# from the top-left corner of the client area, which sits below the menu bar.
window=
client_x=0
client_y=0
menu_height=0
locate_window() {
    local X Y HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$window" | grep -E '^(X|Y|HEIGHT)=')"
    menu_height=$((HEIGHT - 5670 / 15))
    client_x=$X
    client_y=$((Y + menu_height))
}
click_at_twips() { # left top width height
    xdotool mousemove $((client_x + ($1 + $3 / 2) / 15)) $((client_y + ($2 + $4 / 2) / 15)) click 1
}
# The modal message box a command shows: a second visible window of the program.
message_box() {
    xdotool search --onlyvisible --classname '^velmoran$' 2>/dev/null | grep -vx "$window" |
        head -n 1
}
has_message_box() { [ -n "$(message_box)" ]; }
no_message_box() { [ -z "$(message_box)" ]; }
close_message_box() {
    wait_for 30 has_message_box || return 1
    xdotool windowfocus --sync "$(message_box)" key Return
    wait_for 30 no_message_box
}
# Whether List1's row ROW (from 1) shows text: a dark pixel in its band of 13 pixels.
list_row_drawn() {
    local darkest
    darkest="$(import -window "$window" \
        -crop "260x11+12+$((menu_height + 1800 / 15 + 2 + ($1 - 1) * 13 + 1))" \
        -format '%[fx:minima]' info: 2>/dev/null)" || return 1
    awk -v d="$darkest" 'BEGIN { exit !(d < 0.5) }'
}
same_file() { cmp -s "$1" "$2"; }
file_present() { [ -e "$1" ]; }

# The demo, used as its README section says; checks each step's outcome on disk.
drive_demo() {
    local demo game median original
    demo="$(find "$1" -maxdepth 1 -name 'velmoran-demo-*' -type d | head -n 1)"
    game="$demo/prefix/drive_c/Program Files (x86)/Diablo II"
    median="$demo/drive_d/Mods/Median/patch_d2.mpq"
    [ -f "$game/patch_d2.mpq" ] && [ -f "$median" ] || {
        echo "the demo's sample prefix is not where its output says"
        return 1
    }
    original="$work/original.mpq"
    cp "$game/patch_d2.mpq" "$original"
    locate_window

    # Drive d: through the keyboard (Find has the focus; Drive1 is five tabs on), then Find.
    xdotool windowfocus --sync "$window" key Tab Tab Tab Tab Tab d
    click_at_twips 120 840 1215 495
    wait_for 30 list_row_drawn 2 || { echo "Find on d: did not list two archives"; return 1; }
    click_at_twips 120 2100 4095 0 # the second entry, Median's
    click_at_twips 120 120 1215 495                          # Backup
    close_message_box || { echo "Backup showed no message"; return 1; }
    file_present "$game/Backup/patch_d2.mpq" && ! file_present "$game/patch_d2.mpq" ||
        { echo "Backup did not move the game's archive into Backup"; return 1; }
    click_at_twips 120 2760 1215 495 # Replace
    close_message_box || { echo "Replace showed no message"; return 1; }
    same_file "$median" "$game/patch_d2.mpq" ||
        { echo "Replace did not copy the selected archive (Median's) into the game"; return 1; }
    click_at_twips 1680 3720 240 255  # Check2, " -w": its box, at its left
    click_at_twips 120 3480 1215 495  # Launch D2
    wait_for 30 file_present "$demo/launched.txt" ||
        { echo "Launch D2 started no wine"; return 1; }
    grep -qx 'arg=-w' "$demo/launched.txt" && grep -qx "cwd=$game" "$demo/launched.txt" ||
        { echo "Launch D2 started wine otherwise than asked:"; cat "$demo/launched.txt"; return 1; }
    click_at_twips 120 4200 1215 495 # Undo
    close_message_box || { echo "Undo showed no message"; return 1; }
    same_file "$original" "$game/patch_d2.mpq" && ! file_present "$game/Backup" ||
        { echo "Undo did not put the game's own archive back"; return 1; }
}

# --- One command ---------------------------------------------------------------------------
run_readme_command() {
    local command="$1" log="$2"
    local home="$work/home" tmp="$work/tmp" status=0
    rm -rf "$home" "$tmp"
    mkdir -p -m 700 "$home" "$tmp" "$work/runtime"
    git -C "$top" status --porcelain >"$work/tree.before"

    (cd "$top" && exec setsid env HOME="$home" TMPDIR="$tmp" XDG_RUNTIME_DIR="$work/runtime" \
        bash -c "$command") >"$log" 2>&1 </dev/null &
    command_pid=$!
    window=
    # A first run builds the program: up to 15 minutes for the window or the exit.
    local end=$((SECONDS + 900))
    while kill -0 "$command_pid" 2>/dev/null && [ "$SECONDS" -lt "$end" ]; do
        window="$(xdotool search --onlyvisible --classname '^velmoran$' 2>/dev/null | head -n 1)"
        [ -n "$window" ] && break
        sleep 0.2
    done

    if [ -n "$window" ]; then
        local name wm_class
        name="$(xdotool getwindowname "$window")"
        wm_class="$(xprop -id "$window" WM_CLASS)"
        if [ "$name" != Velmoran ] ||
            [ "$wm_class" != 'WM_CLASS(STRING) = "velmoran", "Velmoran"' ]; then
            echo "the main window shows as \"$name\", $wm_class" >>"$log"
            status=1
        fi
        if [ "$status" -eq 0 ] && [[ "$command" == scripts/demo.sh* ]]; then
            drive_demo "$tmp" >>"$log" 2>&1 || status=1
        fi
        # Closed as a user would: the Exit menu (Alt+E).
        xdotool windowfocus --sync "$window" key alt+e 2>/dev/null || true
        if ! wait_for 30 eval '! kill -0 "$command_pid" 2>/dev/null'; then
            echo "the window did not close through its Exit menu within 30 s" >>"$log"
            kill -- "-$command_pid" 2>/dev/null || true
            status=1
        fi
    elif kill -0 "$command_pid" 2>/dev/null; then
        echo "neither a window nor an exit within 15 minutes" >>"$log"
        kill -- "-$command_pid" 2>/dev/null || true
        status=1
    fi
    wait "$command_pid" || status=1
    command_pid=

    if [[ "$command" == scripts/demo.sh* ]] && [ "$status" -eq 0 ]; then
        # What the demo promises at its end: the stand-in wine's record, and nothing
        # touched outside its temporary folder.
        grep -q '^The last Launch D2 asked wine for:$' "$log" ||
            { echo "the demo did not print what Launch D2 asked wine for" >>"$log"; status=1; }
        local outside
        outside="$(find "$tmp" "$home" -mindepth 1 -maxdepth 1 ! -name 'velmoran-demo-*')"
        [ -z "$outside" ] ||
            { echo "the demo left files outside its folder: $outside" >>"$log"; status=1; }
    fi
    git -C "$top" status --porcelain >"$work/tree.after"
    if ! cmp -s "$work/tree.before" "$work/tree.after"; then
        echo "the command changed the checkout's files:" >>"$log"
        diff "$work/tree.before" "$work/tree.after" >>"$log" || true
        status=1
    fi
    return "$status"
}

order=("${commands[@]}")
reverse=()
for ((i = ${#commands[@]} - 1; i >= 0; i--)); do reverse+=("${commands[i]}"); done
number=0
for command in "${order[@]}" "${reverse[@]}"; do
    number=$((number + 1))
    log="$work/command-$number.log"
    started=$SECONDS
    if run_readme_command "$command" "$log"; then
        echo "ok: $command ($((SECONDS - started)) s)"
    else
        step_failed "$command ($((SECONDS - started)) s); its last lines:"
        tail -n 25 "$log" | sed 's/^/    /'
    fi
done

echo
if [ "$failures" -eq 0 ]; then
    echo "README commands passed, in order and in reverse: ${commands[*]}"
else
    echo "README commands failed: $failures"
    exit 1
fi

# A private X server for the scripts that start the program (Xvfb on a display number of its
# own, so that it never meets another server), and what they check of the main window.
# Sourced by the other scripts.

# start_private_xvfb WORK: starts it, with its files in the folder WORK; sets DISPLAY and
# xvfb_pid (the caller stops it).
start_private_xvfb() {
    local work="$1"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
        2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 300); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    export DISPLAY=":$(head -n 1 "$work/display")"
}

# check_main_window WINDOW DESKTOP_ENTRY: the caller's pass or fail for the window class that
# the desktop entry names (StartupWMClass), and for the program icon on the window.
check_main_window() {
    local window="$1" class wm_class
    class="$(sed -n 's/^StartupWMClass=//p' "$2" | head -n 1)"
    wm_class="$(xprop -id "$window" WM_CLASS)"
    if [ "$wm_class" = "WM_CLASS(STRING) = \"velmoran\", \"$class\"" ]; then
        pass "window class matches the desktop entry's StartupWMClass: $wm_class"
    else
        fail "window class does not match StartupWMClass=$class: $wm_class"
    fi
    if xprop -id "$window" _NET_WM_ICON | grep -q 'Icon ('; then
        pass "the main window carries the program icon"
    else
        fail "the main window has no icon"
    fi
}

# A private X server for the scripts that start the program: Xvfb on a display number of its
# own, so that it never meets another server. Sourced by the other scripts.

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

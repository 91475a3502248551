# Sourced by the scripts that show the window on a virtual X server.
# start_xvfb WIDTHxHEIGHT: starts Xvfb on a display number it picks itself (two scripts at
# once never share one), exports DISPLAY and sets xvfb_pid once the server answers.
start_xvfb() {
    local number
    number=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "${1}x24" -nolisten tcp 3>"$number" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [[ -s $number ]] && break || sleep 0.1; done
    export DISPLAY=:$(<"$number")
    rm -f "$number"
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && return 0 || sleep 0.1; done
    echo "Xvfb did not start" >&2
    return 1
}

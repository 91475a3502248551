#!/usr/bin/env bash
# Regenerates the window screenshots in docs/ from the real program under a virtual X
# server: docs/zembra-window.png (single mode, advanced settings panel open),
# docs/zembra-window-multi.png (multi mode), docs/zembra-window-multi-done.png (eight
# simulated phones flashed: 시작 clicked with xdotool as an operator would, first in single
# mode, then in multi mode; every phone's flash is compared with the images) and
# docs/zembra-window-progress.png (a multi download under the Openbox window manager with a
# tint2 task bar: the leading phone's percentage in the window title and the task bar entry).
# Installs xvfb, xdotool, imagemagick, openbox and tint2 when missing (Debian, as root) and
# builds what is needed (build dir: $ZEMBRA_BUILD_DIR or build/).
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for p in xvfb x11-utils xdotool imagemagick fonts-nanum openbox tint2; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi

dir=${ZEMBRA_BUILD_DIR:-build}
if [[ ! -x "$dir/app/zembra" || ! -x "$dir/sim/zembra-phone-sim" ]]; then
    cmake -S . -B "$dir" -G Ninja -DZEMBRA_BUILD_APP=ON >/dev/null
    cmake --build "$dir" --target zembra zembra-phone-sim
fi
zembra=$dir/app/zembra
sim=$dir/sim/zembra-phone-sim
work=$(mktemp -d /tmp/zembra-shot.XXXXXX)
export ZEMBRA_PORT_DIR=$work/ports ZEMBRA_SERIAL_MAP_DIR=$work/serialcomm

# The screen is exactly the window's client size; without a window manager the centred
# window then covers the whole screen.
source scripts/xvfb.sh
xvfb_pid=
app_pid=
sim_pid=
desk_pids=()
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n "$sim_pid" ]] && kill "$sim_pid" 2>/dev/null || true
    ((${#desk_pids[@]})) && kill "${desk_pids[@]}" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
start_xvfb 767x456

shot() {  # shot <output> <zembra options...>
    local out=$1
    shift
    QT_QPA_PLATFORM=xcb "$zembra" "$@" &
    app_pid=$!
    sleep 2
    import -window root "$out"
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=
    echo "wrote $out"
}

mkdir -p docs
shot docs/zembra-window.png --advanced
shot docs/zembra-window-multi.png --multi

# Waits until the files named exist (up to 60 s).
wait_for_files() {
    for _ in $(seq 600); do
        local all=1 f
        for f in "$@"; do [[ -f $f ]] || all=0; done
        ((all)) && return 0
        sleep 0.1
    done
    echo "screenshot.sh: the download did not finish" >&2
    return 1
}

# Clicks the window's control at (x, y) of its client area, as an operator's mouse would.
click_at() {
    local wid
    wid=$(xdotool search --sync --onlyvisible --name '^Zembra 4.2$' | head -n 1)
    xdotool mousemove --window "$wid" "$1" "$2" click 1
}

# Waits until a window whose title matches the pattern is shown (up to 30 s).
wait_for_title() {
    for _ in $(seq 300); do
        xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "screenshot.sh: no window titled $1" >&2
    return 1
}

# Eight phones in the device map, the demo job loaded in the window.
source scripts/demo_job.sh
make_demo_job "$work"
"$sim" --port COM65 --count 8 --erase-ms 300 --dump "$work/flash.bin" >"$work/sim.out" 2>&1 &
sim_pid=$!
wait_for_phones "$work/sim.out" 8

# Single mode: 시작 (PanelOne at 47,212; BitBtnDOStart at 486,106, 230 x 72) flashes COM65,
# the phone the window found in the device map.
QT_QPA_PLATFORM=xcb "$zembra" --code "$code" --font1 "$font1" &
app_pid=$!
sleep 2
click_at 648 354
wait_for_files "$work/flash.bin.COM65"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=
check_phone_flashes "$work/flash.bin" 1
rm -f "$work"/flash.bin.COM*

# Multi mode: 시작 (PanelMulti at 47,212; BitBtnMultiStart at 486,122, 230 x 72) flashes the
# eight phones of the slots the window ticked by itself.
QT_QPA_PLATFORM=xcb "$zembra" --multi --code "$code" --font1 "$font1" &
app_pid=$!
sleep 2
click_at 648 370
wait_for_files "$work"/flash.bin.COM{65,66,67,68,69,70,71,72}
sleep 1.5  # the tick after the last phone's end
import -window root docs/zembra-window-multi-done.png
echo "wrote docs/zembra-window-multi-done.png"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=
check_phone_flashes "$work/flash.bin" 8
echo "every phone holds the images byte for byte ($flashed phones)"

# The progress where operators look: a desktop with a window manager (Openbox) and a task
# bar (tint2), eight phones paced at 400 kbit/s so that the download lasts a few seconds; the
# picture is taken once the window title shows the leading phone's percentage.
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
rm -f "$work"/flash.bin.COM*
kill "$xvfb_pid" 2>/dev/null || true
wait "$xvfb_pid" 2>/dev/null || true
start_xvfb 1024x640
openbox >/dev/null 2>&1 &
desk_pids+=($!)
tint2 >/dev/null 2>&1 &
desk_pids+=($!)
"$sim" --port COM65 --count 8 --rate 400000 --dump "$work/flash.bin" >"$work/sim.out" 2>&1 &
sim_pid=$!
wait_for_phones "$work/sim.out" 8
QT_QPA_PLATFORM=xcb "$zembra" --multi --code "$code" --font1 "$font1" &
app_pid=$!
sleep 3
click_at 648 370
wait_for_title '^[1-9][0-9]% Zembra 4$'
sleep 0.3
import -window root docs/zembra-window-progress.png
echo "wrote docs/zembra-window-progress.png ($(xdotool search --onlyvisible --name '% Zembra 4$' getwindowname))"
wait_for_files "$work"/flash.bin.COM{65,66,67,68,69,70,71,72}
wait_for_title '^Zembra 4.2$'
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=
check_phone_flashes "$work/flash.bin" 8

#!/usr/bin/env bash
# The README's run command: installs the Debian packages, builds, generates a small demo job
# (a code image with a valid trailer and two fonts), flashes it with zembra-cli into simulated
# phones (USB, then UART, then eight USB phones at once), prints the log and checks each
# phone's flash against the images. Then the operator window flashes eight simulated phones:
# on a display the operator presses 시작, without one it runs off screen by itself.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build=${ZEMBRA_BUILD_DIR:-build}
cli=$build/cli/zembra-cli
sim=$build/sim/zembra-phone-sim

work=$(mktemp -d /tmp/zembra-demo.XXXXXX)
# The demo's phones register their port aliases and device-map entries in folders of their own.
export ZEMBRA_PORT_DIR=$work/ports ZEMBRA_SERIAL_MAP_DIR=$work/serialcomm
# Its download records go to a database of its own, never into the user's (the user's
# zembra.conf and the window's settings are not read or written either); kept after the demo.
demo_data=$(realpath -m "$build/demo-data")
export XDG_DATA_HOME=$demo_data XDG_CONFIG_HOME=$work/config
records=$demo_data/zembra/records.sqlite
echo "run.sh: the demo's download records go to $records"
sim_pid=""
cleanup() {
    if [[ -n $sim_pid ]] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

source scripts/demo_job.sh
make_demo_job "$work"

# Starts a simulated phone in the background and waits until it has registered its port.
start_phone() {
    local port=$1
    shift
    "$sim" --port "$port" --sessions 1 --dump "$work/flash-$port.bin" "$@" >"$work/sim-$port.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        grep -q "^$port " "$work/sim-$port.out" 2>/dev/null && return 0
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    cat "$work/sim-$port.out" >&2
    echo "run.sh: the simulated phone did not start" >&2
    exit 1
}

# Ends the simulated phones: they exit by themselves after their session; a phone that was
# not written would wait for ever, so after 5 s it is stopped.
stop_phones() {
    for _ in $(seq 100); do
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}

# Waits for the phone to end (it exits after the reset jump) and compares its flash.
check_flash() {
    local port=$1 dump=$work/flash-$1.bin
    shift
    stop_phones
    sed 's/^/  phone: /' "$work/sim-$port.out"
    compare_flash "$dump" "$@" ||
        { echo "run.sh: the phone's flash does not match the images" >&2; exit 1; }
}

echo "== USB link, protocol auto (the phone grants the compressed mode) =="
start_phone COM70 --link usb
"$cli" --port COM70 --code "$code" --font1 "$font1" --font2 "$font2" --font2-address 0x300000
check_flash COM70 "$code" 0x8000 0x8000 "$font1" 0x200000 0 "$font2" 0x300000 0

echo "== UART link, compressed protocol, code image sent whole (Change) =="
start_phone COM100 --link uart
"$cli" --serial --protocol compressed --port COM100 --change --code "$code" --font1 "$font1"
check_flash COM100 "$code" 0 0 "$font1" 0x200000 0

echo "== Eight USB phones at once (multi mode, every phone of the device map) =="
start_phone COM65 --link usb --count 8
wait_for_phones "$work/sim-COM65.out" 8  # every phone in the map before --all-phones reads it
"$cli" --all-phones --code "$code" --font1 "$font1" || true
stop_phones
check_phone_flashes "$work/flash-COM65.bin" 8 || { echo "run.sh: a phone's flash differs" >&2; exit 1; }

# The operator window with eight phones registered in the device map and the demo job
# loaded: single mode finds the phone by itself (the lowest device number, COM65), multi mode
# ticks the eight slots by itself. On a display the operator presses 시작; without one the
# same flow runs off screen with 시작 pressed programmatically, and the result is printed.
app=$build/app/zembra
"$sim" --port COM65 --count 8 --dump "$work/window.bin" >"$work/sim-window.out" 2>&1 &
sim_pid=$!
wait_for_phones "$work/sim-window.out" 8
expected=8
job=(--code "$code" --font1 "$font1")
if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
    echo "== The operator window: press 시작 (single mode: COM65; 멀티다운로드: all eight) =="
    "$app" "${job[@]}" || true
    expected=0  # the operator decides which phones are written
else
    echo "== No display: the operator window runs off screen, 시작 pressed by the program =="
    echo "-- single mode (the phone's port found in the device map)"
    QT_QPA_PLATFORM=offscreen "$app" "${job[@]}" --press-start --exit-when-done
    echo "-- multi mode (the eight slots ticked from the device map)"
    QT_QPA_PLATFORM=offscreen "$app" --multi "${job[@]}" --press-start --exit-when-done
fi
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

echo "== Flash of the phones the window wrote =="
check_phone_flashes "$work/window.bin" "$expected" || { echo "run.sh: the window's download differs" >&2; exit 1; }
echo "Demo done: every phone holds the images byte for byte ($flashed written from the window)."
echo "The demo's download records: $cli records --db $records"

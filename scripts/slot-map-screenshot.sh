#!/usr/bin/env bash
# Makes docs/zembra-slot-map.png: the window's "슬롯 지정" dialog under a virtual X server,
# taught with simulated phones whose pseudo-terminals are laid out in a sysfs tree of its own
# as if on USB ports 1-1.2 and 1-1.3: the first phone is bound to slot 1, slot 2 is skipped
# with Esc, the second phone is bound to slot 3, and the first, plugged in again, is refused.
# Needs what scripts/screenshot.sh installs and a build with the window ($ZEMBRA_BUILD_DIR or
# build/).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${ZEMBRA_BUILD_DIR:-build}
zembra=$dir/app/zembra
sim=$dir/sim/zembra-phone-sim
work=$(mktemp -d /tmp/zembra-slots.XXXXXX)
export ZEMBRA_PORT_DIR=$work/ports ZEMBRA_SERIAL_MAP_DIR=$work/serialcomm
export ZEMBRA_SYSFS_TTY_DIR=$work/sysfs XDG_CONFIG_HOME=$work/config
mkdir -p "$work/sysfs" "$work/serialcomm"

source scripts/xvfb.sh
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
start_xvfb 1024x700
pids+=("$xvfb_pid")

# plug PORT LOCATION: a phone on PORT whose tty sysfs shows on the USB port LOCATION (1-1.n).
plug() {
    "$sim" --port "$1" >"$work/$1.txt" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [[ -s $work/$1.txt ]] && break || sleep 0.05
    done
    local device name iface
    device=$(awk 'NR == 1 { print $2 }' "$work/$1.txt")
    name=${device#/dev/}
    name=${name//\//!}
    iface=$work/devices/pci0000:00/0000:00:14.0/usb1/1-1/$2/$2:1.0
    mkdir -p "$iface" "$work/sysfs/$name"
    ln -sfn "$iface" "$work/sysfs/$name/device"
}

QT_QPA_PLATFORM=xcb "$zembra" --multi &
pids+=($!)
wid=$(xdotool search --sync --onlyvisible --name '^Zembra 4.2$' | head -n 1)
sleep 1
xdotool mousemove --window "$wid" 648 395 click 1  # "슬롯 지정"
dialog=$(xdotool search --sync --onlyvisible --name '^슬롯 지정$' | head -n 1)
sleep 0.5
plug COM66 1-1.2
sleep 1
xdotool key --window "$dialog" Escape
plug COM68 1-1.3
sleep 1
kill "${pids[-2]}"  # the first phone unplugged and plugged into its port again
sleep 0.5
plug COM66 1-1.2
sleep 1
mkdir -p docs
import -window "$dialog" docs/zembra-slot-map.png
echo "wrote docs/zembra-slot-map.png"

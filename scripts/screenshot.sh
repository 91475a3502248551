#!/usr/bin/env bash
# Regenerates the window screenshots in docs/ from the real program under a virtual X
# server: docs/zembra-window.png (single mode, advanced settings panel open) and
# docs/zembra-window-multi.png (multi mode). Installs xvfb and imagemagick when missing
# (Debian, as root) and builds the program when needed (build dir: $ZEMBRA_BUILD_DIR or build/).
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
for p in xvfb x11-utils imagemagick fonts-nanum; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
fi

dir=${ZEMBRA_BUILD_DIR:-build}
if [[ ! -x "$dir/app/zembra" ]]; then
    cmake -S . -B "$dir" -G Ninja -DZEMBRA_BUILD_APP=ON >/dev/null
    cmake --build "$dir" --target zembra
fi
zembra=$dir/app/zembra

# The screen is exactly the window's client size; without a window manager the centred
# window then covers the whole screen.
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 767x456x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
app_pid=
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break || sleep 0.1
done

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

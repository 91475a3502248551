#!/usr/bin/env bash
# The Windows check: installs mingw-w64 and Wine, builds liblzo2 for Windows from Debian's
# source package, cross-builds zembra-cli.exe and the non-window test programs into
# build-win/, runs the test programs under Wine, then flashes the Linux simulated phone with
# zembra-cli.exe under Wine over a Wine COM port (USB and UART), compares the phone's flash
# with the images byte for byte, and checks that Ctrl-C ends a download with status 14.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=${ZEMBRA_WIN_BUILD_DIR:-build-win}
start=$SECONDS

say() { printf '== %s (%ds)\n' "$1" $((SECONDS - start)); }

# ---- packages ------------------------------------------------------------------------------
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || need+=(wine wine64)
command -v dpkg-source >/dev/null || need+=(dpkg-dev)
for tool in cmake ninja pkg-config; do command -v $tool >/dev/null || need+=($tool); done
[[ -d /usr/src/googletest ]] || need+=(googletest)
# The Linux simulated phone is the peer; its build needs the Linux packages.
pkg-config --exists lzo2 2>/dev/null || need+=(liblzo2-dev)
if ((${#need[@]})); then
    say "installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]/ninja/ninja-build}" >/dev/null
fi

# ---- liblzo2 for Windows, from Debian's source package --------------------------------------
lzo_prefix=$root/$dir/lzo2-prefix
if [[ ! -f $lzo_prefix/lib/liblzo2.a ]]; then
    say "building liblzo2 for Windows from Debian's source package"
    if ! apt-get source --print-uris lzo2 >/dev/null 2>&1; then
        # No source lists yet: add Debian's for the release this machine runs.
        . /etc/os-release
        cat >/etc/apt/sources.list.d/zembra-debian-src.sources <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $VERSION_CODENAME $VERSION_CODENAME-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
        apt-get update -qq
    fi
    src=$root/$dir/lzo2-source
    rm -rf "$src" && mkdir -p "$src"
    (cd "$src" && apt-get source -qq lzo2 >/dev/null 2>&1)
    lzo_dir=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name 'lzo2-*' | head -n1)
    (cd "$lzo_dir" &&
        ./configure -q --host=x86_64-w64-mingw32 --prefix="$lzo_prefix" --disable-shared \
            --enable-static CC=x86_64-w64-mingw32-gcc-posix >/dev/null &&
        make -s -j2 >/dev/null && make -s install >/dev/null)
fi

# ---- cross build ---------------------------------------------------------------------------
say "cross-building zembra-cli.exe and the test programs"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    --toolchain "$root/cmake/mingw-w64-x86_64.cmake" -DZEMBRA_WIN_PREFIX="$lzo_prefix" >/dev/null
cmake --build "$dir" --target zembra-cli test_platform test_job test_protocol
# The peer: the Linux simulated phone.
cmake -S . -B "$dir/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMBRA_BUILD_APP=OFF \
    -DZEMBRA_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir/linux" --target zembra-phone-sim
sim=$root/$dir/linux/sim/zembra-phone-sim
cli=$root/$dir/cli/zembra-cli.exe

# ---- Wine ----------------------------------------------------------------------------------
# A Wine prefix of its own, and a wineserver that stays up for the whole run (the registry
# value and the COM links live as long as it does).
export WINEPREFIX=$root/$dir/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d /tmp/zembra-win.XXXXXX)
export ZEMBRA_PORT_DIR=$work/ports ZEMBRA_SERIAL_MAP_DIR=$work/serialcomm
sim_pid=""
# Ends the phone started last, when it still runs.
stop_phone() {
    if [[ -n $sim_pid ]]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=""
}
cleanup() {
    stop_phone
    wineserver -k >/dev/null 2>&1 || true
    [[ -n ${ZEMBRA_KEEP_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT
say "starting Wine ($(wine --version))"
wineboot -i >/dev/null 2>&1 || true
wineserver -p >"$work/wineserver.log" 2>&1 </dev/null &

# The demo job (scripts/demo_job.sh): code image booting at 0x8000, a font with its address
# in its name.
source scripts/demo_job.sh
make_demo_job "$work"
wcode=$(winepath -w "$code")
wfont1=$(winepath -w "$font1")

# Starts a phone and makes its pseudo-terminal Wine's port COM<n>.
start_phone() {
    local com=$1
    shift
    "$sim" --sessions 1 --dump "$work/flash-$com.bin" "$@" >"$work/sim-$com.out" 2>&1 </dev/null &
    sim_pid=$!
    local device=""
    for _ in $(seq 200); do
        # (The file appears once the phone's process has started.)
        device=$(awk 'NR == 1 {print $2}' "$work/sim-$com.out" 2>/dev/null) || true
        [[ $device == /dev/* ]] && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    if [[ $device != /dev/* ]]; then
        cat "$work/sim-$com.out" >&2
        echo "test-windows.sh: the simulated phone for $com did not start" >&2
        exit 1
    fi
    ln -sfn "$device" "$WINEPREFIX/dosdevices/${com,,}"
}

# Waits for the phone (it exits after the reset jump) and compares its flash with the images:
# triples of file, flash address, offset in the file.
check_flash() {
    local com=$1 dump=$work/flash-$1.bin
    shift
    wait "$sim_pid" || true
    sim_pid=""
    compare_flash "$dump" "$@" ||
        { echo "test-windows.sh: the flash of the phone on $com differs" >&2; exit 1; }
}

# ---- test programs -------------------------------------------------------------------------
# test_platform's live-port test gets a phone's pseudo-terminal as COM8.
start_phone COM8 --port COM70 --link usb --no-register
failed=0
for t in platform job protocol; do
    say "test_$t.exe under Wine"
    if ! ZEMBRA_TEST_PORT=COM8 wine "$dir/tests/$t/test_$t.exe" >"$work/test_$t.log" 2>&1; then
        grep -E '^\[  FAILED|Failure' "$work/test_$t.log" || tail -20 "$work/test_$t.log"
        failed=1
    fi
    grep -E '^\[  (PASSED|SKIPPED)' "$work/test_$t.log" || true
done
stop_phone
((failed == 0)) || { echo "test-windows.sh: a test program failed under Wine" >&2; exit 1; }

# ---- zembra-cli.exe against the simulated phone ----------------------------------------------
expect_status() {
    local want=$1 got=$2 what=$3
    if ((got != want)); then
        echo "test-windows.sh: $what ended with status $got, expected $want" >&2
        exit 1
    fi
    echo "  status $got: $what"
}

say "USB link, protocol auto, on Wine's COM5"
start_phone COM5 --port COM70 --link usb --no-register
status=0
wine "$cli" --port COM5 --code "$wcode" --font1 "$wfont1" >"$work/usb.log" 2>&1 || status=$?
tail -n 3 "$work/usb.log"
expect_status 0 $status "USB download"
check_flash COM5 "$code" 0x8000 0x8000 "$font1" 0x200000 0

say "UART link, compressed protocol, code sent whole, on Wine's COM6"
start_phone COM6 --port COM100 --link uart --no-register
status=0
wine "$cli" --serial --protocol compressed --change --port COM6 --code "$wcode" \
    --font1 "$wfont1" >"$work/uart.log" 2>&1 || status=$?
tail -n 3 "$work/uart.log"
expect_status 0 $status "UART download"
check_flash COM6 "$code" 0 0 "$font1" 0x200000 0

say "multi mode, the phone found in the registry's serial-device map (\\Device\\trelvic0 = COM7)"
start_phone COM7 --port COM65 --link usb --no-register
map_key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
wine reg add "$map_key" /v '\Device\trelvic0' /t REG_SZ /d COM7 /f >"$work/reg.log" 2>&1 || true
if ! wine reg query "$map_key" /v '\Device\trelvic0' 2>&1 | grep -q COM7; then
    cat "$work/reg.log" >&2
    echo "test-windows.sh: the device-map value could not be written" >&2
    exit 1
fi
status=0
wine "$cli" --all-phones --code "$wcode" --font1 "$wfont1" >"$work/multi.log" 2>&1 || status=$?
tail -n 2 "$work/multi.log"
expect_status 0 $status "multi download from the device map"
check_flash COM7 "$code" 0x8000 0x8000 "$font1" 0x200000 0
wine reg delete "$map_key" /v '\Device\trelvic0' /f >/dev/null 2>&1 || true

say "Ctrl-C during the erase; the port held meanwhile by a second program"
start_phone COM5 --port COM70 --link usb --no-register --erase-ms 30000
wine "$cli" --port COM5 --code "$wcode" >"$work/stop.log" 2>&1 &
cli_pid=$!
for _ in $(seq 200); do
    grep -q "삭제 요청" "$work/stop.log" 2>/dev/null && break
    sleep 0.05
done
status=0
wine "$cli" --port COM5 --code "$wcode" >"$work/taken.log" 2>&1 || status=$?
tail -n 1 "$work/taken.log"
expect_status 4 $status "second program on the taken port"
kill -INT "$cli_pid"
status=0
wait "$cli_pid" || status=$?
tail -n 2 "$work/stop.log"
expect_status 14 $status "Ctrl-C"
stop_phone

say "a port that does not exist, and a phone unplugged during the transfer"
status=0
wine "$cli" --port COM9 --code "$wcode" >"$work/missing.log" 2>&1 || status=$?
tail -n 1 "$work/missing.log"
expect_status 4 $status "missing COM9"
start_phone COM5 --port COM70 --link usb --no-register --hangup-after 20000
status=0
timeout 60 wine "$cli" --port COM5 --code "$wcode" >"$work/unplug.log" 2>&1 || status=$?
tail -n 2 "$work/unplug.log"
if ((status == 0 || status == 124)); then
    echo "test-windows.sh: the unplugged run ended with status $status" >&2
    exit 1
fi
echo "  status $status: phone unplugged during the transfer"
stop_phone

say "Windows check passed"

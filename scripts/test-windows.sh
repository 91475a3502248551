#!/usr/bin/env bash
# The Windows check: installs mingw-w64, Wine, NSIS and the X tools; builds Qt for Windows from
# Debian's qt6-base source (once: cached outside the clone, scripts/win/build-qt.sh), liblzo2
# and SQLite from Debian's source packages; cross-builds zembra.exe, zembra-cli.exe and the
# test programs into build-win/ and runs the test programs under Wine; flashes the Linux
# simulated phone with zembra-cli.exe over a Wine COM port (USB and UART), compares the
# phone's flash with the images byte for byte, and checks that Ctrl-C ends a download with
# status 14. Then it builds the installer Zembra-4.2-setup.exe, installs it silently into a
# fresh Wine prefix, starts the installed window under Xvfb (screenshot), picks the images
# through its file dialogs and presses 시작 with xdotool against one phone, starts it again in
# multi mode (--multi --press-start) against eight phones (byte for byte each time), reads
# the records back with zembra-cli.exe records, and uninstalls.
# ZEMBRA_WIN_SCREENSHOT=FILE also copies the window's screenshot to FILE.
set -Eeuo pipefail
trap 'echo "test-windows.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
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
for tool in cmake ninja pkg-config patch makensis Xvfb xdotool xdpyinfo import tclsh; do
    command -v $tool >/dev/null || need+=($tool)
done
[[ -d /usr/src/googletest ]] || need+=(googletest)
# The Linux simulated phone is the peer; its build needs the Linux packages. Qt for Windows is
# built with the host's Qt tools; the installer ships Debian's font and Qt's Korean texts.
pkg-config --exists lzo2 2>/dev/null || need+=(liblzo2-dev)
[[ -x /usr/lib/qt6/libexec/moc ]] || need+=(qt6-base-dev qt6-base-dev-tools)
[[ -f /usr/share/fonts/truetype/nanum/NanumGothic.ttf ]] || need+=(fonts-nanum)
[[ -f /usr/share/qt6/translations/qtbase_ko.qm ]] || need+=(qt6-translations-l10n)
if ((${#need[@]})); then
    need=("${need[@]/#ninja/ninja-build}")
    need=("${need[@]/#makensis/nsis}")
    need=("${need[@]/#Xvfb/xvfb}")
    need=("${need[@]/#xdpyinfo/x11-utils}")
    need=("${need[@]/#import/imagemagick}")
    need=("${need[@]/#tclsh/tcl}")
    say "installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# ---- libraries for Windows, from Debian's source packages -----------------------------------
source scripts/win/deb-src.sh
ensure_deb_src lzo2
source scripts/win/build-qt.sh
build_qt
lzo_prefix=$root/$dir/lzo2-prefix
if [[ ! -f $lzo_prefix/lib/liblzo2.a ]]; then
    say "building liblzo2 for Windows from Debian's source package"
    src=$root/$dir/lzo2-source
    rm -rf "$src" && mkdir -p "$src"
    (cd "$src" && apt-get source -qq lzo2 >/dev/null 2>&1)
    lzo_dir=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name 'lzo2-*' | head -n1)
    (cd "$lzo_dir" &&
        ./configure -q --host=x86_64-w64-mingw32 --prefix="$lzo_prefix" --disable-shared \
            --enable-static CC=x86_64-w64-mingw32-gcc-posix >/dev/null &&
        make -s -j2 >/dev/null && make -s install >/dev/null)
fi
source scripts/win/build-sqlite.sh
sqlite_prefix=$root/$dir/sqlite3-prefix
build_sqlite "$sqlite_prefix"

# ---- cross build ---------------------------------------------------------------------------
say "cross-building zembra.exe, zembra-cli.exe and the test programs"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    --toolchain "$root/cmake/mingw-w64-x86_64.cmake" \
    -DZEMBRA_WIN_PREFIX="$lzo_prefix;$sqlite_prefix" -DZEMBRA_WIN_QT="$qt_prefix" -DZEMBRA_BUILD_APP=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$qt_host_cmake" >/dev/null
cmake --build "$dir" --target zembra zembra-cli test_platform test_job test_protocol test_records
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
sim_pid="" xvfb_pid="" app_pid=""
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
    [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1 || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
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
for t in platform job protocol records; do
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

# ---- the installer, the installed window -----------------------------------------------------
source scripts/win/make-installer.sh
say "building the installer with NSIS ($(makensis -VERSION))"
make_installer "$root/$dir"
ls -l "$dir/Zembra-4.2-setup.exe" | awk '{print "  " $5 " bytes: " $NF}'

# A fresh Wine prefix of its own for the installed programs, its desktop on a virtual screen
# from the start (Wine's desktop process stays up with the wineserver).
wineserver -k >/dev/null 2>&1 || true
# (Xvfb picks a free display number; no window manager.)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break || sleep 0.1; done
export DISPLAY=:$(<"$work/display")
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break || sleep 0.1; done
echo "  Xvfb on $DISPLAY"

export WINEPREFIX=$work/wine-installed
say "fresh Wine prefix $WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -p >"$work/wineserver-installed.log" 2>&1 </dev/null &
program_dir="$WINEPREFIX/drive_c/Program Files/Zembra"
installed=("$program_dir"/{zembra.exe,zembra-cli.exe,NanumGothic.ttf,qt.conf,LICENSE.txt}
    "$program_dir/translations/qtbase_ko.qm" "$program_dir/uninstall.exe"
    "$WINEPREFIX/drive_c/users/Public/Desktop/Zembra.lnk"
    "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zembra/Zembra.lnk")

say "silent install: Zembra-4.2-setup.exe /S"
t=$SECONDS
status=0
wine "$(winepath -w "$root/$dir/Zembra-4.2-setup.exe")" /S >"$work/install.log" 2>&1 || status=$?
expect_status 0 $status "silent install ($((SECONDS - t)) s)"
for f in "${installed[@]}"; do
    [[ -f $f ]] || { echo "test-windows.sh: the installer did not install $f" >&2; exit 1; }
done
echo "  installed: ${installed[*]#"$WINEPREFIX/"}"
installed_exe='C:\Program Files\Zembra\zembra.exe'
installed_cli='C:\Program Files\Zembra\zembra-cli.exe'

# Wine's own file dialog (the window uses the system's dialog) shows Hangul when its dialog
# fonts link to NanumGothic, as a Korean Windows' fonts do.
font_links='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
for face in Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2' 'Microsoft Sans Serif'; do
    wine reg add "$font_links" /v "$face" /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f \
        >/dev/null 2>&1
done


map_add() { wine reg add "$map_key" /v "\\Device\\trelvic$1" /t REG_SZ /d "$2" /f >/dev/null 2>&1; }
map_clear() {
    local d
    for d in $(seq 0 7); do
        wine reg delete "$map_key" /v "\\Device\\trelvic$d" /f >/dev/null 2>&1 || true
    done
}

# The window's top-level X window (up to 180 s: a fresh prefix starts its services first).
window_id() {
    local wid
    for _ in $(seq 1800); do
        wid=$(xdotool search --onlyvisible --name '^Zembra 4.2$' 2>/dev/null | head -n1) || true
        [[ -n $wid ]] && { echo "$wid"; return 0; }
        sleep 0.1
    done
    echo "test-windows.sh: the installed window did not appear" >&2
    return 1
}
# Clicks at (x, y) of the window's client area, as an operator's mouse would.
click_at() {
    xdotool mousemove --window "$wid" "$1" "$2" click 1
}
# Picks a file in the file dialog the click at (x, y) opens: its path typed into the name
# field, then Enter.
# The visible windows' ids on one line (none: empty; xdotool then fails, which is no error).
visible_windows() {
    { xdotool search --onlyvisible --name '' 2>/dev/null || true; } | sort | tr '\n' ' '
}
pick_file() {
    local x=$1 y=$2 path=$3 before after
    before=$(visible_windows)
    click_at "$x" "$y"
    for _ in $(seq 300); do
        after=$(visible_windows)
        [[ $after != "$before" ]] && break
        sleep 0.1
    done
    [[ $after != "$before" ]] || { echo "test-windows.sh: no file dialog opened" >&2; exit 1; }
    sleep 1  # the dialog takes the keyboard once it is drawn
    xdotool type --delay 30 "$path"
    xdotool key Return
    for _ in $(seq 300); do
        [[ $(visible_windows) == "$before" ]] && return 0
        sleep 0.1
    done
    import -window root "$dir/dialog-stuck.png" 2>/dev/null || true
    echo "test-windows.sh: the file dialog did not close (screen: $dir/dialog-stuck.png)" >&2
    exit 1
}
# Waits (up to 120 s) until the files exist.
wait_for_files() {
    local f all
    for _ in $(seq 1200); do
        all=1
        for f in "$@"; do [[ -f $f ]] || all=0; done
        ((all)) && return 0
        sleep 0.1
    done
    echo "test-windows.sh: the window's download did not finish" >&2
    return 1
}

say "the installed window under Xvfb"
"$sim" --port COM65 --count 8 --no-register --dump "$work/window.bin" >"$work/sim-window.out" \
    2>&1 </dev/null &
sim_pid=$!
wait_for_phones "$work/sim-window.out" 8
map_clear
while read -r com device _; do
    [[ $com == COM* && $device == /dev/* ]] && ln -sfn "$device" "$WINEPREFIX/dosdevices/${com,,}"
done <"$work/sim-window.out"
map_add 0 COM65
wine "$installed_exe" >"$work/window.log" 2>&1 &
app_pid=$!
wid=$(window_id)
sleep 2
shot=$root/$dir/zembra-window-wine.png
import -window "$wid" "$shot"
echo "  screenshot: $shot"
[[ -z ${ZEMBRA_WIN_SCREENSHOT:-} ]] || cp "$shot" "$ZEMBRA_WIN_SCREENSHOT"

say "single mode: code image and font 1 through the file dialogs, 시작, the phone on COM65"
# The file panel's slot buttons: 코드 at (83, 64), 폰트1 at (83, 86); 시작 at (648, 354).
pick_file 83 64 "$wcode"
pick_file 83 86 "$wfont1"
click_at 648 354
wait_for_files "$work/window.bin.COM65"
check_phone_flashes "$work/window.bin" 1
rm -f "$work"/window.bin.COM*

say "multi mode: eight phones in the device map (\\Device\\trelvic0-7 = COM65-72), 시작"
for d in $(seq 1 7); do map_add "$d" "COM$((65 + d))"; done
# The installed window again, started in multi mode with the same images by its own options
# (the clicks of the single run chose them through the dialogs); its multi Start scans the
# slots first.
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
wine "$installed_exe" --multi --code "$wcode" --font1 "$wfont1" --press-start \
    >"$work/window-multi.log" 2>&1 &
app_pid=$!
wait_for_files "$work"/window.bin.COM{65,66,67,68,69,70,71,72}
check_phone_flashes "$work/window.bin" 8
sleep 1.5
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true
app_pid=""
stop_phone

say "the records of the window's runs, read with zembra-cli.exe records"
wine "$installed_cli" records --csv >"$work/records.csv" 2>"$work/records.err" || {
    cat "$work/records.err" >&2
    echo "test-windows.sh: zembra-cli.exe records failed" >&2
    exit 1
}
code_sha=$(sha256sum "$code" | cut -d' ' -f1)
single_rows=$(grep -c ",zembra,COM65,.*Completed.*$code_sha" "$work/records.csv" || true)
multi_rows=$(grep -c ",zembra --multi,COM.*$code_sha" "$work/records.csv" || true)
head -n 1 "$work/records.csv" | cut -c1-100
grep "$code_sha" "$work/records.csv" | head -n 2 | cut -c1-160
echo "  $single_rows single record(s), $multi_rows multi record(s) with the code image's SHA-256"
if ((single_rows != 1 || multi_rows != 8)); then
    echo "test-windows.sh: expected 1 single and 8 multi records" >&2
    exit 1
fi

say "silent uninstall"
t=$SECONDS
wine "C:\\Program Files\\Zembra\\uninstall.exe" /S >"$work/uninstall.log" 2>&1 || true
# The uninstaller copies itself away and returns at once: the files go a moment later (the
# program folder last).
for _ in $(seq 600); do
    left=0
    for f in "${installed[@]}" "$program_dir"; do [[ -e $f ]] && left=1; done
    ((left)) || break
    sleep 0.1
done
for f in "${installed[@]}" "$program_dir"; do
    [[ ! -e $f ]] || { echo "test-windows.sh: the uninstaller left $f" >&2; exit 1; }
done
echo "  the program files, shortcuts and folder are gone ($((SECONDS - t)) s)"
records_file=$(find "$WINEPREFIX/drive_c/users" -path '*zembra/records.sqlite' | head -n1)
[[ -n $records_file ]] || { echo "test-windows.sh: the records went with the program" >&2; exit 1; }
echo "  the records stay: ${records_file#"$WINEPREFIX/"}"

say "Windows check passed"

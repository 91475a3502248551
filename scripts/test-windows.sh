#!/usr/bin/env bash
# The Windows check, run as root (apt, Wine's computer names): installs mingw-w64, Wine,
# NSIS, PostgreSQL and the X tools; builds Qt, liblzo2, SQLite and libpq for Windows from
# Debian's source packages (once: cached and locked outside the clone, scripts/win/cache.sh);
# cross-builds zembra.exe, zembra-cli.exe and the test programs and runs the test programs
# under Wine. Wine runs as a Korean operator's PC: Korean code page (949), the account
# 홍길동, the images in C:\펌웨어\신규 모델\. zembra-cli.exe flashes the Linux simulated
# phone over a Wine COM port (USB and UART, the device map, Ctrl-C, a taken and a missing
# port, an unplugged phone), byte for byte, and once more from an English (1252) prefix.
# Then the installer Zembra-4.2-setup.exe (Korean pages: the first one is photographed) is
# installed silently into a fresh Korean prefix whose zembra.conf puts the records in
# C:\기록\z.sqlite and names the line server; the installed window, started by a batch file
# that clears DISPLAY in the Windows environment as on a real PC, flashes one phone through
# its file dialogs and 시작, then eight in multi mode. The line: a PostgreSQL server of the
# check's own on the Linux side takes the records of that station, of the English one and of
# a Linux station, and `records --summary --server` on Windows shows the three. Last, the
# uninstaller.
#
# ZEMBRA_WIN_BUILD_DIR (default build-win) is the run's build folder, locked while a run uses
# it: two checks run at once with two folders. Logs of every stage and program run:
# <build folder>/logs (kept after the run).
# ZEMBRA_WIN_SCREENSHOT=FILE copies the window's screenshot to FILE,
# ZEMBRA_WIN_INSTALLER_SHOT=FILE the installer's first page.
set -Eeuo pipefail
trap 'echo "test-windows.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
cd "$(dirname "$0")/.."
root=$PWD
dir=$(realpath -m "${ZEMBRA_WIN_BUILD_DIR:-build-win}")
start=$SECONDS

say() { printf '== %s (%ds)\n' "$1" $((SECONDS - start)); }

# ---- packages ------------------------------------------------------------------------------
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || need+=(wine wine64)
command -v dpkg-source >/dev/null || need+=(dpkg-dev)
command -v localedef >/dev/null || need+=(locales)
for tool in cmake ninja pkg-config patch makensis Xvfb xdotool xdpyinfo import tclsh; do
    command -v $tool >/dev/null || need+=($tool)
done
[[ -d /usr/src/googletest ]] || need+=(googletest)
# The Linux simulated phone is the peer and a Linux station sends records; their build needs
# the Linux packages. Qt for Windows is built with the host's Qt tools; the installer ships
# Debian's font and Qt's Korean texts. The line server is Debian's PostgreSQL.
pkg-config --exists lzo2 2>/dev/null || need+=(liblzo2-dev)
pkg-config --exists sqlite3 2>/dev/null || need+=(libsqlite3-dev)
pkg-config --exists libpq 2>/dev/null || need+=(libpq-dev)
[[ -x /usr/lib/postgresql/15/bin/postgres ]] || need+=(postgresql-15)
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
# Wine takes the Windows code page from the Unix locale: Korean (949) and English (1252).
for locale in ko_KR en_US; do
    locale -a | grep -qx "$locale.utf8" || localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
done

# ---- the run's folder ------------------------------------------------------------------------
mkdir -p "$dir"
exec {dir_lock}>>"$dir/.lock"
if ! flock -n "$dir_lock"; then
    say "waiting for the other check that uses $dir (ZEMBRA_WIN_BUILD_DIR picks another)"
    flock "$dir_lock"
fi
win_logs=$dir/logs
rm -rf "$win_logs" && mkdir -p "$win_logs"
ccache=()
command -v ccache >/dev/null &&
    ccache=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# ---- libraries for Windows, from Debian's source packages -----------------------------------
source scripts/win/deb-src.sh
for package in qt6-base lzo2 sqlite3 postgresql-15; do ensure_deb_src "$package"; done
source scripts/win/cache.sh
source scripts/win/build-qt.sh
source scripts/win/build-libs.sh
build_qt
build_win_libs

# ---- cross build ---------------------------------------------------------------------------
say "cross-building zembra.exe, zembra-cli.exe and the test programs (log: $win_logs/cross-*.log)"
run_stage "cross configure" "$win_logs/cross-configure.log" \
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ccache[@]}" \
    --toolchain "$root/cmake/mingw-w64-x86_64.cmake" -DZEMBRA_WIN_PREFIX="$win_lib_prefixes" \
    -DZEMBRA_WIN_QT="$qt_prefix" -DZEMBRA_BUILD_APP=ON -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR="$qt_host_cmake"
run_stage "cross build" "$win_logs/cross-build.log" cmake --build "$dir" --target zembra \
    zembra-cli test_platform test_job test_protocol test_records test_app
# The peer (the Linux simulated phone) and the Linux station's zembra-cli.
say "building the Linux simulated phone and zembra-cli (log: $win_logs/linux-*.log)"
run_stage "Linux configure" "$win_logs/linux-configure.log" \
    cmake -S . -B "$dir/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ccache[@]}" \
    -DZEMBRA_BUILD_APP=OFF -DZEMBRA_BUILD_TESTS=OFF
run_stage "Linux build" "$win_logs/linux-build.log" \
    cmake --build "$dir/linux" --target zembra-phone-sim zembra-cli
sim=$dir/linux/sim/zembra-phone-sim
linux_cli=$dir/linux/cli/zembra-cli
cli=$dir/cli/zembra-cli.exe

# ---- Wine ----------------------------------------------------------------------------------
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d /tmp/zembra-win.XXXXXX)
chmod 755 "$work"
export ZEMBRA_PORT_DIR=$work/ports ZEMBRA_SERIAL_MAP_DIR=$work/serialcomm
source scripts/win/wine-station.sh
source scripts/win/line-server.sh
station_tools "$work/bin"
export PATH=$work/bin:$PATH
sim_pid="" xvfb_pid="" app_pid="" line_pid="" app_phone_pids=()
# Ends the phone started last, when it still runs.
stop_phone() {
    if [[ -n $sim_pid ]]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=""
}
stations=()
cleanup() {
    stop_phone
    local pid
    for pid in "${app_phone_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
    local s
    for s in "${stations[@]}"; do
        WINEPREFIX=$s ZEMBRA_STATION=x wineserver -k >/dev/null 2>&1 || true
    done
    stop_line_server
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    [[ -n ${ZEMBRA_KEEP_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

# A screen for the window programs (Xvfb picks a free display number; no window manager).
# Wine's own X connection uses it; the Windows programs' environment has no DISPLAY where a
# batch file clears it.
source scripts/xvfb.sh
start_xvfb 1024x768

# station PREFIX LOCALE ACCOUNT NAME: switches to that Wine station and starts it.
station() {
    use_station "$@"
    stations+=("$1")
    say "Wine station $4: $(wine --version), $2, account $3, prefix $1"
    start_station
}

# The operator's PC: Korean Windows, account 홍길동.
station "$work/wine-ko" ko_KR.UTF-8 홍길동 ZEMBRA-TEST
appdata=$(windows_env APPDATA) profile=$(windows_env USERPROFILE)
echo "  %APPDATA% = $appdata, %USERPROFILE% = $profile"
[[ $appdata == *홍길동* && $profile == *홍길동* ]] ||
    { echo "test-windows.sh: the Windows account is not 홍길동" >&2; exit 1; }

# The demo job (scripts/demo_job.sh): code image booting at 0x8000, a font with its address
# in its name; the operator keeps them in a Korean folder.
source scripts/demo_job.sh
make_demo_job "$work"
image_dir='C:\펌웨어\신규 모델'
# put_images: copies the demo job into the image folder of the current prefix.
put_images() {
    mkdir -p "$(prefix_path "$image_dir")"
    cp "$code" "$font1" "$(prefix_path "$image_dir")/"
}
put_images
wcode="$image_dir\\${code##*/}"
wfont1="$image_dir\\${font1##*/}"

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

expect_status() {
    local want=$1 got=$2 what=$3
    if ((got != want)); then
        echo "test-windows.sh: $what ended with status $got, expected $want" >&2
        exit 1
    fi
    echo "  status $got: $what"
}

# ---- test programs -------------------------------------------------------------------------
# test_platform's live-port test gets a phone's pseudo-terminal as COM8.
start_phone COM8 --port COM70 --link usb --no-register
failed=0
for t in platform job protocol records; do
    say "test_$t.exe under Wine (log: $win_logs/test_$t.log)"
    if ! ZEMBRA_TEST_PORT=COM8 wine "$dir/tests/$t/test_$t.exe" >"$win_logs/test_$t.log" 2>&1; then
        grep -E '^\[  FAILED|Failure' "$win_logs/test_$t.log" || tail -20 "$win_logs/test_$t.log"
        failed=1
    fi
    grep -E '^\[  (PASSED|SKIPPED)' "$win_logs/test_$t.log" || true
done
stop_phone
((failed == 0)) || { echo "test-windows.sh: a test program failed under Wine" >&2; exit 1; }

# ---- the window's test suite -----------------------------------------------------------------
# test_app off screen, its scratch folders under the account's %TEMP%. Its download tests flash
# the Linux side's phones behind Wine's COM ports (tests/app/LinuxSidePhone.h), their flash
# dumps and errors in a folder of the account's %TEMP% named by ZEMBRA_TEST_PHONES; a test puts
# a USB phone it takes into the registry's device map. The phones, by kind: its first port,
# how many, the phone's options. A test finds the ports of a kind other than usb and uart in
# ZEMBRA_TEST_PHONE_KINDS ("kind=COMn,COMm ..."; the kinds' names are the tests' own).
app_phones=(
    "usb COM65 8 --link usb"
    "uart COM3 1 --link uart"
    "slow-erase COM73 3 --erase-ms 3000"
    "other-version COM76 1 --accept-version 0x1111"
    "refusing-data COM77 1 --nak 0xA4:1000:0:data"
)
# Qt's Korean texts lie beside the program as the installer puts them.
app_log=$win_logs/test_app.log
say "test_app.exe under Wine, off screen, phones: ${app_phones[*]%% --*} (log: $app_log)"
phones_win="$(windows_env TEMP)\zembra-phones"
phones_dir=$(prefix_path "$phones_win")
mkdir -p "$phones_dir" "$dir/tests/app/translations"
cp /usr/share/qt6/translations/qtbase_ko.qm "$dir/tests/app/translations/"
cp packaging/windows/qt.conf "$dir/tests/app/"
app_phone_pids=() phone_kinds=""
for entry in "${app_phones[@]}"; do
    read -r kind first count options <<<"$entry"
    # One phone dumps to the file named, several to FILE.COMn.
    dump=$phones_dir/flash
    ((count > 1)) || dump+=.$first
    # shellcheck disable=SC2086  # the options are words
    "$sim" --port "$first" --count "$count" --no-register --dump "$dump" $options \
        >"$work/sim-app-$kind.out" 2>>"$phones_dir/errors.log" </dev/null &
    app_phone_pids+=($!)
    wait_for_phones "$work/sim-app-$kind.out" "$count"
    ports=$(awk '/^COM[0-9]+ \/dev\// { print $1 }' "$work/sim-app-$kind.out" | paste -sd,)
    [[ $kind == usb || $kind == uart ]] || phone_kinds+="${phone_kinds:+ }$kind=$ports"
    while read -r com device _; do
        [[ $com == COM* && $device == /dev/* ]] && ln -sfn "$device" "$WINEPREFIX/dosdevices/${com,,}"
    done <"$work/sim-app-$kind.out"
done
t=$SECONDS
status=0
QT_QPA_PLATFORM=offscreen ZEMBRA_TEST_PHONES=$phones_win ZEMBRA_TEST_PHONE_KINDS=$phone_kinds \
    wine "$dir/tests/app/test_app.exe" >"$app_log" 2>&1 || status=$?
# The phones end on SIGTERM, with status 3 when one of them saw an error.
phone_status=0
kill "${app_phone_pids[@]}" 2>/dev/null || true
for pid in "${app_phone_pids[@]}"; do wait "$pid" || phone_status=$?; done
app_phone_pids=()
grep -E '^\[  (PASSED|SKIPPED)' "$app_log" || true
echo "  test_app.exe: $((SECONDS - t)) s"
if ((status)); then
    grep -E '^\[  FAILED|Failure' "$app_log" || tail -20 "$app_log"
    echo "test-windows.sh: test_app.exe failed under Wine (status $status)" >&2
    exit 1
fi
if ((phone_status)); then
    cat "$phones_dir/errors.log" >&2
    echo "test-windows.sh: the window's tests left errors on a phone" >&2
    exit 1
fi

# ---- zembra-cli.exe against the simulated phone ----------------------------------------------
# readable_korean LOG: the program's output (a file here: UTF-8) holds Hangul and nothing
# that is not UTF-8.
readable_korean() {
    iconv -f UTF-8 -t UTF-8 "$1" >/dev/null 2>&1 && grep -q '[가-힣]' "$1" ||
        { echo "test-windows.sh: $1 is not readable Korean (UTF-8)" >&2; exit 1; }
}

# usb_download LOG WHAT: zembra-cli.exe flashes the demo job from the image folder into a USB
# phone on COM5, with protocol auto; it must end with status 0 and the phone hold the images.
usb_download() {
    local status=0
    start_phone COM5 --port COM70 --link usb --no-register
    wine "$cli" --port COM5 --code "$wcode" --font1 "$wfont1" >"$1" 2>&1 || status=$?
    tail -n 3 "$1"
    expect_status 0 $status "$2"
    check_flash COM5 "$code" 0x8000 0x8000 "$font1" 0x200000 0
}

say "USB link, protocol auto, on Wine's COM5, the images in $image_dir"
usb_download "$win_logs/usb.log" "USB download"
readable_korean "$win_logs/usb.log"

say "UART link, compressed protocol, code sent whole, on Wine's COM6"
start_phone COM6 --port COM100 --link uart --no-register
status=0
wine "$cli" --serial --protocol compressed --change --port COM6 --code "$wcode" \
    --font1 "$wfont1" >"$win_logs/uart.log" 2>&1 || status=$?
tail -n 3 "$win_logs/uart.log"
expect_status 0 $status "UART download"
check_flash COM6 "$code" 0 0 "$font1" 0x200000 0

say "multi mode, the phone found in the registry's serial-device map (\\Device\\trelvic0 = COM7)"
start_phone COM7 --port COM65 --link usb --no-register
map_key='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
wine reg add "$map_key" /v '\Device\trelvic0' /t REG_SZ /d COM7 /f >"$win_logs/reg.log" 2>&1 || true
if ! wine reg query "$map_key" /v '\Device\trelvic0' 2>&1 | grep -q COM7; then
    cat "$win_logs/reg.log" >&2
    echo "test-windows.sh: the device-map value could not be written" >&2
    exit 1
fi
status=0
wine "$cli" --all-phones --code "$wcode" --font1 "$wfont1" >"$win_logs/multi.log" 2>&1 || status=$?
tail -n 2 "$win_logs/multi.log"
expect_status 0 $status "multi download from the device map"
check_flash COM7 "$code" 0x8000 0x8000 "$font1" 0x200000 0
wine reg delete "$map_key" /v '\Device\trelvic0' /f >/dev/null 2>&1 || true

say "Ctrl-C during the erase; the port held meanwhile by a second program"
start_phone COM5 --port COM70 --link usb --no-register --erase-ms 30000
wine "$cli" --port COM5 --code "$wcode" >"$win_logs/stop.log" 2>&1 &
cli_pid=$!
for _ in $(seq 200); do
    grep -q "삭제 요청" "$win_logs/stop.log" 2>/dev/null && break
    sleep 0.05
done
status=0
wine "$cli" --port COM5 --code "$wcode" >"$win_logs/taken.log" 2>&1 || status=$?
tail -n 1 "$win_logs/taken.log"
expect_status 4 $status "second program on the taken port"
kill -INT "$cli_pid"
status=0
wait "$cli_pid" || status=$?
tail -n 2 "$win_logs/stop.log"
expect_status 14 $status "Ctrl-C"
stop_phone

say "a port that does not exist, and a phone unplugged during the transfer"
status=0
wine "$cli" --port COM9 --code "$wcode" >"$win_logs/missing.log" 2>&1 || status=$?
tail -n 1 "$win_logs/missing.log"
expect_status 4 $status "missing COM9"
start_phone COM5 --port COM70 --link usb --no-register --hangup-after 20000
status=0
timeout 60 wine "$cli" --port COM5 --code "$wcode" >"$win_logs/unplug.log" 2>&1 || status=$?
tail -n 2 "$win_logs/unplug.log"
if ((status == 0 || status == 124)); then
    echo "test-windows.sh: the unplugged run ended with status $status" >&2
    exit 1
fi
echo "  status $status: phone unplugged during the transfer"
stop_phone
stop_station

# ---- the line server -------------------------------------------------------------------------
say "the line server: PostgreSQL on the Linux side (log: $win_logs/line-server.log)"
start_line_server "$work/line"
echo "  ${line_server% password=*} password=..."

# ---- a second Windows station: English Windows (code page 1252) -------------------------------
station "$work/wine-en" en_US.UTF-8 operator ZEMBRA-EN
put_images
say "English station: zembra-cli.exe with the images in $image_dir"
usb_download "$win_logs/en.log" "USB download on the English station"
status=0
wine "$cli" records --send --server "$line_server" >"$win_logs/en-send.log" 2>&1 || status=$?
tail -n 1 "$win_logs/en-send.log"
expect_status 0 $status "records --send from the English station"
# Without TLS in this build, a connection string that asks for it is refused, and says why.
status=0
wine "$cli" records --summary --server "$line_server sslmode=require" >"$win_logs/tls.log" 2>&1 ||
    status=$?
sed 's/password=[^ ]*/password=.../' "$win_logs/tls.log" | head -n 2
((status != 0)) && grep -qi 'ssl' "$win_logs/tls.log" ||
    { echo "test-windows.sh: sslmode=require was not refused with a message" >&2; exit 1; }
stop_station

# ---- the Linux station -----------------------------------------------------------------------
say "Linux station: zembra-cli flashes a phone and sends its record"
mkdir -p "$work/linux-home"
linux_station() {
    HOME=$work/linux-home XDG_DATA_HOME=$work/linux-home/data XDG_CONFIG_HOME=$work/linux-home/config \
        unshare -u sh -c 'hostname zembra-linux && exec "$@"' sh "$linux_cli" "$@"
}
"$sim" --sessions 1 --port COM90 --link usb --dump "$work/flash-linux.bin" \
    >"$work/sim-linux.out" 2>&1 </dev/null &
sim_pid=$!
wait_for_phones "$work/sim-linux.out" 1
status=0
linux_station --port COM90 --code "$code" --font1 "$font1" >"$win_logs/linux.log" 2>&1 || status=$?
tail -n 1 "$win_logs/linux.log"
expect_status 0 $status "Linux download"
wait "$sim_pid" || true
sim_pid=""
compare_flash "$work/flash-linux.bin" "$code" 0x8000 0x8000 "$font1" 0x200000 0
status=0
linux_station records --send --server "$line_server" >"$win_logs/linux-send.log" 2>&1 || status=$?
expect_status 0 $status "records --send from the Linux station"

# ---- the installer, the installed window -----------------------------------------------------
source scripts/win/make-installer.sh
say "building the installer with NSIS ($(makensis -VERSION), log: $win_logs/installer.log)"
run_stage "installer" "$win_logs/installer.log" make_installer "$dir"
ls -l "$dir/Zembra-4.2-setup.exe" | awk '{print "  " $5 " bytes: " $NF}'

# A fresh Korean PC for the installed programs.
station "$work/wine-installed" ko_KR.UTF-8 홍길동 ZEMBRA-KO
program_dir="$WINEPREFIX/drive_c/Program Files/Zembra"
menu_dir="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zembra"
installed=("$program_dir"/{zembra.exe,zembra-cli.exe,NanumGothic.ttf,qt.conf,LICENSE.txt}
    "$program_dir/translations/qtbase_ko.qm" "$program_dir/uninstall.exe"
    "$WINEPREFIX/drive_c/users/Public/Desktop/Zembra.lnk" "$menu_dir/Zembra.lnk"
    "$menu_dir/Zembra 제거.lnk")
setup_exe=$(winepath -w "$dir/Zembra-4.2-setup.exe")

# Wine's own dialogs (the installer's, the window's file dialog) show Hangul when its dialog
# fonts link to NanumGothic, as a Korean Windows' fonts do.
font_links='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
for face in Tahoma 'MS Shell Dlg' 'MS Shell Dlg 2' 'Microsoft Sans Serif'; do
    wine reg add "$font_links" /v "$face" /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f \
        >/dev/null 2>&1
done

say "the installer's first page (in Korean)"
wine "$setup_exe" >"$win_logs/setup-ui.log" 2>&1 &
setup_pid=$!
setup_wid=""
for _ in $(seq 600); do
    setup_wid=$(xdotool search --onlyvisible --name '^Zembra 4.2 설치$' 2>/dev/null | head -n1) || true
    [[ -n $setup_wid ]] && break
    sleep 0.1
done
[[ -n $setup_wid ]] || { echo "test-windows.sh: no Korean installer window appeared" >&2; exit 1; }
sleep 1  # drawn
installer_shot=$dir/installer-wine.png
import -window "$setup_wid" "$installer_shot"
echo "  \"$(xdotool getwindowname "$setup_wid")\", screenshot: $installer_shot"
[[ -z ${ZEMBRA_WIN_INSTALLER_SHOT:-} ]] || cp "$installer_shot" "$ZEMBRA_WIN_INSTALLER_SHOT"
kill "$setup_pid" 2>/dev/null || true
wait "$setup_pid" 2>/dev/null || true

say "silent install: Zembra-4.2-setup.exe /S"
t=$SECONDS
status=0
wine "$setup_exe" /S >"$win_logs/install.log" 2>&1 || status=$?
expect_status 0 $status "silent install ($((SECONDS - t)) s)"
for f in "${installed[@]}"; do
    [[ -f $f ]] || { echo "test-windows.sh: the installer did not install $f" >&2; exit 1; }
done
echo "  installed: ${installed[*]#"$WINEPREFIX/"}"
installed_cli='C:\Program Files\Zembra\zembra-cli.exe'
put_images

# The station's settings: the records in a Korean folder of its own, the line server.
records_db='C:\기록\z.sqlite'
config_dir="$(prefix_path "$(windows_env APPDATA)")/zembra"
mkdir -p "$config_dir"
printf 'records-database = %s\r\nrecords-server = %s\r\n' "$records_db" "$line_server" \
    >"$config_dir/zembra.conf"

# The window is started as the Start menu would: DISPLAY is not in its environment (the
# batch file records what the program saw).
printf '@echo off\r\nset DISPLAY=\r\necho [%%DISPLAY%%]>C:\\display.txt\r\n"C:\\Program Files\\Zembra\\zembra.exe" %%*\r\n' \
    >"$WINEPREFIX/drive_c/zembra.bat"
start_window() {
    wine cmd /c 'C:\zembra.bat' "$@" >>"$win_logs/window.log" 2>&1 &
    app_pid=$!
}
stop_window() {
    wine taskkill /im zembra.exe >/dev/null 2>&1 || true
    for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$app_pid" 2>/dev/null && wine taskkill /f /im zembra.exe >/dev/null 2>&1
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

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
# The visible windows' ids on one line (none: empty; xdotool then fails, which is no error).
visible_windows() {
    { xdotool search --onlyvisible --name '' 2>/dev/null || true; } | sort | tr '\n' ' '
}
# Picks a file in the file dialog the click at (x, y) opens: its path typed into the name
# field, then Enter.
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

say "the installed window under Xvfb, started with DISPLAY cleared"
"$sim" --port COM65 --count 8 --no-register --dump "$work/window.bin" >"$work/sim-window.out" \
    2>&1 </dev/null &
sim_pid=$!
wait_for_phones "$work/sim-window.out" 8
map_clear
while read -r com device _; do
    [[ $com == COM* && $device == /dev/* ]] && ln -sfn "$device" "$WINEPREFIX/dosdevices/${com,,}"
done <"$work/sim-window.out"
map_add 0 COM65
# The operator took images from the Korean folder before: the window's dialogs open there.
wine reg add 'HKCU\Software\Zembra\zembra\dialogs' /v lastFolder /t REG_SZ \
    /d "${image_dir//\\//}" /f >/dev/null 2>&1
start_window
wid=$(window_id)
seen=$(tr -d '\r' <"$WINEPREFIX/drive_c/display.txt")
echo "  DISPLAY in the window's environment: $seen"
[[ $seen == "[]" ]] || { echo "test-windows.sh: DISPLAY was not cleared" >&2; exit 1; }
sleep 2
shot=$dir/zembra-window-wine.png
import -window "$wid" "$shot"
echo "  screenshot: $shot"
[[ -z ${ZEMBRA_WIN_SCREENSHOT:-} ]] || cp "$shot" "$ZEMBRA_WIN_SCREENSHOT"

say "single mode: code image and font 1 from $image_dir through the file dialogs, 시작"
# The file panel's slot buttons: 코드 at (83, 64), 폰트1 at (83, 86); 시작 at (648, 354).
# The dialogs open in the folder the operator used last (set above); the file names are
# typed (xdotool cannot type Hangul into Wine).
pick_file 83 64 "${code##*/}"
pick_file 83 86 "${font1##*/}"
click_at 648 354
wait_for_files "$work/window.bin.COM65"
check_phone_flashes "$work/window.bin" 1
rm -f "$work"/window.bin.COM*

say "multi mode: eight phones in the device map (\\Device\\trelvic0-7 = COM65-72), 시작"
for d in $(seq 1 7); do map_add "$d" "COM$((65 + d))"; done
# The installed window again, started in multi mode with the same images by its own options
# (the clicks of the single run chose them through the dialogs); its multi Start scans the
# slots first.
stop_window
start_window --multi --code "$wcode" --font1 "$wfont1" --press-start
wait_for_files "$work"/window.bin.COM{65,66,67,68,69,70,71,72}
check_phone_flashes "$work/window.bin" 8
stop_phone

say "the records of the window's runs in $records_db, read with zembra-cli.exe records"
[[ -f $(prefix_path "$records_db") ]] ||
    { echo "test-windows.sh: no records database at $records_db" >&2; exit 1; }
wine "$installed_cli" records --csv >"$win_logs/records.csv" 2>"$win_logs/records.err" || {
    cat "$win_logs/records.err" >&2
    echo "test-windows.sh: zembra-cli.exe records failed" >&2
    exit 1
}
code_sha=$(sha256sum "$code" | cut -d' ' -f1)
single_rows=$(grep -c ",zembra,COM65,.*Completed.*$code_sha" "$win_logs/records.csv" || true)
multi_rows=$(grep -c ",zembra --multi,COM.*$code_sha" "$win_logs/records.csv" || true)
head -n 1 "$win_logs/records.csv" | cut -c1-100
grep "$code_sha" "$win_logs/records.csv" | head -n 2 | cut -c1-160
echo "  $single_rows single record(s), $multi_rows multi record(s) with the code image's SHA-256"
if ((single_rows != 1 || multi_rows != 8)); then
    echo "test-windows.sh: expected 1 single and 8 multi records" >&2
    exit 1
fi

say "the line: the window's sender, then records --summary --server on Windows"
# The window's line sender has pushed its runs (it sends each record when it is written).
for _ in $(seq 300); do
    sent=$("$linux_cli" records --server "$line_server" --station ZEMBRA-KO --csv 2>/dev/null |
        grep -c "$code_sha" || true)
    ((sent >= 9)) && break
    sleep 0.1
done
echo "  the window's sender: $sent of 9 records on the server"
((sent == 9)) || { echo "test-windows.sh: the window's sender did not send its records" >&2; exit 1; }
stop_window
status=0
wine "$installed_cli" records --summary --server "$line_server" >"$win_logs/summary.log" 2>&1 ||
    status=$?
sed 's/password=[^ ]*/password=.../' "$win_logs/summary.log"
expect_status 0 $status "records --summary --server"
for name in ZEMBRA-KO ZEMBRA-EN zembra-linux; do
    grep -q "$name" "$win_logs/summary.log" ||
        { echo "test-windows.sh: the summary lacks the station $name" >&2; exit 1; }
done

say "silent uninstall"
t=$SECONDS
wine "C:\\Program Files\\Zembra\\uninstall.exe" /S >"$win_logs/uninstall.log" 2>&1 || true
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
[[ -f $(prefix_path "$records_db") ]] ||
    { echo "test-windows.sh: the records went with the program" >&2; exit 1; }
echo "  the records stay: $records_db"

say "Windows check passed"

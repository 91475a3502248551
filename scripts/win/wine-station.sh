# Wine prefixes as an operator's Windows PC. Sourced by scripts/test-windows.sh.
#
# station_tools FOLDER: puts wine, wineboot, wineserver and winepath into FOLDER (put it first
# on PATH): each runs Wine's own program in a UTS namespace whose host name is ZEMBRA_STATION,
# as Wine takes the computer name from the host name. Two prefixes on one machine are so two
# stations. (The wrappers exec the program: its process id is the wrapper's, for signals.)
station_tools() {
    local folder=$1 tool
    mkdir -p "$folder"
    for tool in wine wineboot wineserver winepath; do
        printf '#!/bin/sh\nexec unshare -u sh -c '\''hostname "$0" && exec "$@"'\'' "${ZEMBRA_STATION:?}" %s "$@"\n' \
            "$(command -v "$tool")" >"$folder/$tool"
        chmod +x "$folder/$tool"
    done
}

# use_station PREFIX LOCALE ACCOUNT STATION: the following Wine commands run in PREFIX with
# the Unix locale LOCALE (Wine derives the Windows code page from it: ko_KR.UTF-8 gives 949,
# en_US.UTF-8 gives 1252), as the Windows account ACCOUNT (Wine names the profile folder
# C:\users\<ACCOUNT> after the USER of the process that creates the prefix) and with the
# computer name STATION.
use_station() {
    export WINEPREFIX=$1 LANG=$2 LC_ALL=$2 USER=$3 LOGNAME=$3 ZEMBRA_STATION=$4
    case $2 in
    ko_KR*) station_codepage=CP949 ;;
    *) station_codepage=CP1252 ;;
    esac
}

# start_station: creates the prefix when it is new and keeps its wineserver up (the registry
# values and COM links live as long as it does).
start_station() {
    wineboot -i >/dev/null 2>&1 || true
    wineserver -p >/dev/null 2>&1 </dev/null &
}

stop_station() {
    wineserver -k >/dev/null 2>&1 || true
}

# windows_env NAME: a variable of the Windows environment as a program in the prefix sees it
# (cmd writes to a pipe in the system's code page).
windows_env() {
    wine cmd /c "echo %$1%" 2>/dev/null | iconv -f "$station_codepage" -t UTF-8 | tr -d '\r'
}

# prefix_path WINDOWS_PATH: the Unix path of a C:\ path in the current prefix.
prefix_path() {
    local path=${1#[Cc]:\\}
    echo "$WINEPREFIX/drive_c/${path//\\//}"
}

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

# Qt for mingw-w64 from Debian's qt6-base source package: a static, release qtbase with Core,
# Gui, Widgets, Test and the Windows platform plugin. Sourced by scripts/test-windows.sh
# (needs its `say` and `root`); `build_qt` leaves the installed Qt's folder in $qt_prefix.
#
# The installed Qt lives in a fixed folder outside the clone ($ZEMBRA_WIN_CACHE, default
# /var/cache/zembra-win), so a fresh clone on the same machine reuses it. It is keyed by a
# stamp of the source package version, the configure line, the patch, the toolchain file and
# the compiler: the build runs only when the stamp differs. The build tree (2+ GB) is removed
# once Qt is installed.

qt_cache=${ZEMBRA_WIN_CACHE:-/var/cache/zembra-win}
qt_prefix=$qt_cache/qt6-mingw
qt_patch=$root/scripts/win/qt6-base-no-wintab.patch
qt_toolchain=$root/cmake/mingw-w64-compilers.cmake
qt_host_cmake=/usr/lib/$(gcc -dumpmachine)/cmake

# What the window does not need is switched off; the image and text libraries are Qt's own.
qt_configure=(-release -static -xplatform win32-g++ -qt-host-path /usr
    -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -no-pkg-config
    -qt-zlib -qt-libpng -no-libjpeg -qt-pcre -qt-freetype -qt-harfbuzz -no-zstd
    -no-feature-network -no-feature-sql -no-feature-printsupport -no-feature-concurrent
    -no-feature-xml -no-feature-vulkan -no-feature-windeployqt -no-feature-androiddeployqt
    -no-feature-macdeployqt -no-feature-qmake)

# The .dsc file name `apt-get source` would fetch (it carries the version).
qt_source_dsc() {
    apt-get source --print-uris qt6-base 2>/dev/null | grep -o "qt6-base_[^' ]*\.dsc" | head -n1
}

qt_stamp() {
    {
        echo "source $(qt_source_dsc)"
        echo "configure ${qt_configure[*]} -DQT_HOST_PATH_CMAKE_DIR=$qt_host_cmake"
        sha256sum <"$qt_patch"
        sha256sum <"$qt_toolchain"
        echo "compiler $(dpkg-query -W -f '${Version}' g++-mingw-w64-x86-64-posix)"
        x86_64-w64-mingw32-g++-posix -v 2>&1 | tail -n1
    } | sha256sum | cut -d' ' -f1
}

build_qt() {
    local stamp
    stamp=$(qt_stamp)
    if [[ -f $qt_prefix/zembra-stamp && $(<"$qt_prefix/zembra-stamp") == "$stamp" ]]; then
        say "Qt for Windows: reusing $qt_prefix (stamp ${stamp:0:12})"
        return 0
    fi
    local work=${ZEMBRA_WIN_QT_WORK:-/var/tmp/zembra-qt-build} t=$SECONDS
    say "Qt for Windows: building into $qt_prefix (stamp ${stamp:0:12}, about 21 minutes alone)"
    rm -rf "$work" "$qt_prefix"
    mkdir -p "$work" "$qt_cache"
    (cd "$work" && apt-get source -qq --download-only qt6-base >/dev/null 2>&1 &&
        dpkg-source -x ./qt6-base_*.dsc src >/dev/null)
    patch -s -d "$work/src" -p1 <"$qt_patch"
    say "  source and patch: $((SECONDS - t)) s"
    t=$SECONDS
    mkdir -p "$work/build"
    (cd "$work/build" && "$work/src/configure" -prefix "$qt_prefix" "${qt_configure[@]}" -- \
        -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt_toolchain" \
        -DQT_HOST_PATH_CMAKE_DIR="$qt_host_cmake" >"$work/configure.log" 2>&1) ||
        { tail -n 40 "$work/configure.log" >&2; return 1; }
    say "  configure: $((SECONDS - t)) s"
    t=$SECONDS
    cmake --build "$work/build" --parallel 2 >"$work/build.log" 2>&1 ||
        { grep -m 20 -B 2 -A 10 'error' "$work/build.log" >&2; return 1; }
    say "  build: $((SECONDS - t)) s"
    t=$SECONDS
    cmake --install "$work/build" >/dev/null
    echo "$stamp" >"$qt_prefix/zembra-stamp"
    rm -rf "$work"
    say "  install: $((SECONDS - t)) s, $(du -sh "$qt_prefix" | cut -f1) installed"
}

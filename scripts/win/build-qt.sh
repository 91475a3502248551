# Qt for mingw-w64 from Debian's qt6-base source package: a static, release qtbase with Core,
# Gui, Widgets, Test and the Windows platform plugin. Sourced by scripts/test-windows.sh
# after scripts/win/cache.sh (needs its `say`, `root` and `win_logs`); `build_qt` leaves the
# installed Qt's folder in $qt_prefix.
#
# The installed Qt lives in the cache outside the clone (scripts/win/cache.sh: locked, built
# in a private folder and renamed into place), so a fresh clone on the same machine reuses
# it. It is keyed by a stamp of the source package version, the configure line, the patch,
# the toolchain file and the compiler: the build runs only when the stamp differs. The build
# tree (2+ GB) is removed once Qt is installed.

qt_prefix=$win_cache/qt6-mingw
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

# qt_build PREFIX STAGE WORK (see cached_build).
qt_build() {
    local prefix=$1 stage=$2 work=$3 t=$SECONDS
    say "  Qt for Windows: about 21 minutes alone; logs $win_logs/qt-*.log"
    run_stage "Qt source" "$win_logs/qt-source.log" qt_source "$work" || return 1
    say "  source and patch: $((SECONDS - t)) s"
    t=$SECONDS
    mkdir -p "$work/build"
    run_stage "Qt configure" "$win_logs/qt-configure.log" \
        in_folder "$work/build" "$work/src/configure" -prefix "$prefix" "${qt_configure[@]}" -- \
        -G Ninja -DCMAKE_TOOLCHAIN_FILE="$qt_toolchain" -DQT_HOST_PATH_CMAKE_DIR="$qt_host_cmake" ||
        return 1
    say "  configure: $((SECONDS - t)) s"
    t=$SECONDS
    run_stage "Qt build" "$win_logs/qt-build.log" cmake --build "$work/build" --parallel 2 ||
        return 1
    say "  build: $((SECONDS - t)) s"
    # Installed as it will lie under the prefix, then moved to the stage.
    run_stage "Qt install" "$win_logs/qt-install.log" \
        env DESTDIR="$work/destdir" cmake --install "$work/build" || return 1
    mv "$work/destdir$prefix" "$stage"
    rm -rf "$work/build" "$work/src"
}

qt_source() {
    local work=$1
    (cd "$work" && apt-get source --download-only qt6-base) &&
        dpkg-source -x "$work"/qt6-base_*.dsc "$work/src" &&
        patch -d "$work/src" -p1 <"$qt_patch"
}

build_qt() {
    cached_build qt6-mingw "$(qt_stamp)" qt_build
}

# The Windows installer Zembra-4.2-setup.exe (packaging/windows/zembra.nsi, Debian's nsis).
# Sourced by scripts/test-windows.sh (needs its `say` and `root`).

# The licence texts of what the installed programs hold, from Debian's copyright files.
installer_licence() {
    echo "Zembra 4.2 for Windows"
    echo
    echo "zembra.exe and zembra-cli.exe are statically linked with the libraries below (Qt, LZO,"
    echo "SQLite, PostgreSQL's libpq), built from Debian's source packages; NanumGothic.ttf is"
    echo "Debian's fonts-nanum. Their licences follow, as Debian ships them."
    local package
    for package in libqt6core6 liblzo2-2 libsqlite3-0 libpq5 fonts-nanum qt6-translations-l10n; do
        [[ -f /usr/share/doc/$package/copyright ]] || continue
        printf '\n==== %s (Debian: /usr/share/doc/%s/copyright) ====\n\n' "$package" "$package"
        cat "/usr/share/doc/$package/copyright"
    done
}

# make_installer BUILD_DIR: stages the programs, the font, Qt's Korean texts and the licence in
# BUILD_DIR/installer-stage and writes BUILD_DIR/Zembra-4.2-setup.exe.
make_installer() {
    local dir=$1 stage=$1/installer-stage
    rm -rf "$stage" && mkdir -p "$stage/translations"
    cp "$dir/app/zembra.exe" "$dir/cli/zembra-cli.exe" "$stage/"
    x86_64-w64-mingw32-strip "$stage/zembra.exe" "$stage/zembra-cli.exe"
    cp /usr/share/fonts/truetype/nanum/NanumGothic.ttf "$stage/"
    cp /usr/share/qt6/translations/qtbase_ko.qm "$stage/translations/"
    cp "$root/packaging/windows/qt.conf" "$stage/"
    installer_licence | sed 's/$/\r/' >"$stage/LICENSE.txt"
    makensis -V2 -DSTAGE="$stage" -DOUTDIR="$dir" "$root/packaging/windows/zembra.nsi"
}

# SQLite for mingw-w64 from Debian's sqlite3 source package. Sourced by scripts/test-windows.sh
# (needs its `say`). The source package holds no one-file amalgamation: its configure and
# `make sqlite3.c` make it on this machine (tclsh and the host compiler), then mingw-w64
# compiles it into a static library with a pkg-config file.

# build_sqlite PREFIX: installs include/sqlite3.h, lib/libsqlite3.a and
# lib/pkgconfig/sqlite3.pc under PREFIX (nothing to do when they are there).
build_sqlite() {
    local prefix=$1
    [[ -f $prefix/lib/libsqlite3.a && -f $prefix/lib/pkgconfig/sqlite3.pc ]] && return 0
    say "building SQLite for Windows from Debian's source package"
    local src=$prefix-source
    rm -rf "$src" && mkdir -p "$src"
    (cd "$src" && apt-get source -qq sqlite3 >/dev/null 2>&1)
    local tree
    tree=$(find "$src" -mindepth 1 -maxdepth 1 -type d -name 'sqlite3-*' | head -n1)
    [[ -n $tree ]] || { echo "build_sqlite: no sqlite3 source tree" >&2; return 1; }
    mkdir -p "$tree/amalgamation"
    (cd "$tree/amalgamation" && ../configure -q --disable-tcl >/dev/null &&
        make -s sqlite3.c >/dev/null 2>&1)
    mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
    # Threads as on Linux (serialized by default, the program opens with FULLMUTEX).
    x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
        -c "$tree/amalgamation/sqlite3.c" -o "$src/sqlite3.o"
    x86_64-w64-mingw32-ar rcs "$prefix/lib/libsqlite3.a" "$src/sqlite3.o"
    cp "$tree/amalgamation/sqlite3.h" "$prefix/include/"
    local version
    version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$prefix/include/sqlite3.h")
    cat >"$prefix/lib/pkgconfig/sqlite3.pc" <<PC
prefix=$prefix
Name: SQLite
Description: SQL database engine (built for Windows from Debian's source)
Version: $version
Libs: -L\${prefix}/lib -lsqlite3
Cflags: -I\${prefix}/include
PC
    rm -rf "$src"
}

# liblzo2, SQLite and libpq for mingw-w64, static, from Debian's source packages (the version
# this machine runs where apt still offers its source). Sourced by scripts/test-windows.sh
# after scripts/win/cache.sh; each library is a cached, locked folder of $win_cache with
# include/, lib/ and lib/pkgconfig/. `build_win_libs` leaves their folders in win_lib_prefixes.

# lib_stamp SOURCE FUNCTIONS...: the stamp of a library built from SOURCE (package=version)
# by the given shell functions.
lib_stamp() {
    local source_spec=$1
    shift
    { echo "source $source_spec"; declare -f "$@"; mingw_compiler_id; } | sha256sum | cut -d' ' -f1
}

# ---- liblzo2 ---------------------------------------------------------------------------------
lzo_build() {
    local prefix=$1 stage=$2 work=$3 tree
    mkdir -p "$work/src"
    tree=$(fetch_deb_src "$lzo_source" "$work/src") || return 1
    run_stage "lzo2 configure" "$win_logs/lzo2-configure.log" in_folder "$tree" ./configure \
        --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-shared --enable-static \
        CC=x86_64-w64-mingw32-gcc-posix || return 1
    run_stage "lzo2 build" "$win_logs/lzo2-build.log" \
        make -C "$tree" -j2 install DESTDIR="$work/destdir" || return 1
    mv "$work/destdir$prefix" "$stage"
}

# ---- SQLite ----------------------------------------------------------------------------------
# The source package holds no one-file amalgamation: its configure and `make sqlite3.c` make
# it on this machine (tclsh and the host compiler), then mingw-w64 compiles it.
sqlite_build() {
    local prefix=$1 stage=$2 work=$3 tree
    mkdir -p "$work/src"
    tree=$(fetch_deb_src "$sqlite_source" "$work/src") || return 1
    mkdir -p "$tree/amalgamation" "$stage/include" "$stage/lib/pkgconfig"
    run_stage "SQLite amalgamation" "$win_logs/sqlite-amalgamation.log" \
        in_folder "$tree/amalgamation" sh -c '../configure --disable-tcl && make sqlite3.c' ||
        return 1
    # Threads as on Linux (serialized by default, the program opens with FULLMUTEX).
    run_stage "SQLite build" "$win_logs/sqlite-build.log" \
        x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION \
        -c "$tree/amalgamation/sqlite3.c" -o "$work/sqlite3.o" || return 1
    x86_64-w64-mingw32-ar rcs "$stage/lib/libsqlite3.a" "$work/sqlite3.o"
    cp "$tree/amalgamation/sqlite3.h" "$stage/include/"
    local version
    version=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$stage/include/sqlite3.h")
    cat >"$stage/lib/pkgconfig/sqlite3.pc" <<PC
prefix=$prefix
Name: SQLite
Description: SQL database engine (built for Windows from Debian's source)
Version: $version
Libs: -L\${prefix}/lib -lsqlite3
Cflags: -I\${prefix}/include
PC
}

# ---- libpq -----------------------------------------------------------------------------------
# PostgreSQL's own build cross-compiles for mingw (configure --host); only what the client
# library needs is built: the generated headers, src/common and src/port in their client
# flavour (_shlib) and libpq's objects. Without OpenSSL: a connection string that asks for TLS
# (sslmode=require, verify-ca, verify-full) is refused by libpq with its own message.
#
# libpq brings its own small pthread functions for Windows (mutexes over critical sections,
# thread-local keys); the programs link mingw's winpthreads for std::thread, which defines the
# same names with other types. libpq's are renamed to pq_* in its objects.
libpq_build() {
    local prefix=$1 stage=$2 work=$3 tree
    mkdir -p "$work/src" "$work/build"
    tree=$(fetch_deb_src "$libpq_source" "$work/src") || return 1
    run_stage "libpq configure" "$win_logs/libpq-configure.log" in_folder "$work/build" \
        "$tree/configure" --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
        --prefix="$prefix" --without-readline --without-zlib --without-icu --without-openssl \
        --without-llvm --without-ldap --without-gssapi || return 1
    local b=$work/build objects
    # libpq's object list as its Makefile has it (without the DLL's version resource).
    printf 'zembra-objects:\n\t@echo $(filter-out $(WIN32RES),$(OBJS))\n' >"$work/objects.mk"
    objects=$(make -s -C "$b/src/interfaces/libpq" -f Makefile -f "$work/objects.mk" \
        zembra-objects) || return 1
    run_stage "libpq build" "$win_logs/libpq-build.log" sh -c "
        make -C '$b/src/backend' generated-headers &&
        make -C '$b/src/common' -j2 libpgcommon_shlib.a &&
        make -C '$b/src/port' -j2 libpgport_shlib.a &&
        make -C '$b/src/interfaces/libpq' -j2 $objects" || return 1
    mkdir -p "$stage/include" "$stage/lib/pkgconfig"
    local renames=() symbol
    for symbol in $(x86_64-w64-mingw32-nm -g --defined-only \
        "$b/src/interfaces/libpq/pthread-win32.o" | awk '$3 ~ /^pthread_/ {print $3}'); do
        renames+=(--redefine-sym "$symbol=pq_$symbol")
    done
    (cd "$b/src/interfaces/libpq" && x86_64-w64-mingw32-ar rcs "$stage/lib/libpq.a" $objects)
    ((${#renames[@]} == 0)) || x86_64-w64-mingw32-objcopy "${renames[@]}" "$stage/lib/libpq.a"
    cp "$b/src/common/libpgcommon_shlib.a" "$b/src/port/libpgport_shlib.a" "$stage/lib/"
    cp "$tree/src/interfaces/libpq/libpq-fe.h" "$tree/src/include/postgres_ext.h" \
        "$b/src/include/pg_config_ext.h" "$stage/include/"
    cat >"$stage/lib/pkgconfig/libpq.pc" <<PC
prefix=$prefix
Name: libpq
Description: PostgreSQL client library (static, built for Windows from Debian's source)
Version: ${libpq_source#*=}
Libs: -L\${prefix}/lib -lpq -lpgcommon_shlib -lpgport_shlib -lshell32 -lws2_32 -lsecur32
Cflags: -I\${prefix}/include
PC
}

build_win_libs() {
    lzo_source=$(deb_source_of liblzo2-dev lzo2)
    sqlite_source=$(deb_source_of libsqlite3-dev sqlite3)
    libpq_source=$(deb_source_of libpq-dev postgresql-15)
    cached_build lzo2-mingw "$(lib_stamp "$lzo_source" lzo_build)" lzo_build || return 1
    cached_build sqlite3-mingw "$(lib_stamp "$sqlite_source" sqlite_build)" sqlite_build ||
        return 1
    cached_build libpq-mingw "$(lib_stamp "$libpq_source" libpq_build)" libpq_build || return 1
    win_lib_prefixes="$win_cache/lzo2-mingw;$win_cache/sqlite3-mingw;$win_cache/libpq-mingw"
}

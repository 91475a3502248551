# Libraries built for Windows are kept outside the clone in $win_cache (ZEMBRA_WIN_CACHE,
# default /var/cache/zembra-win), one folder per library, each keyed by a stamp of what went
# into it. Sourced by scripts/test-windows.sh (needs its `say` and `win_logs`).
#
# Several checks may run at once on one machine. Each library folder has a lock file beside
# it: a run holds the lock exclusively while it looks at the stamp and, when it is stale,
# builds the library in a private folder and renames it into place; then it keeps the lock
# shared until it ends, so that no other run replaces a library a build is using. A run
# killed half-way leaves only its private folder, which the next build of that library
# removes.

win_cache=${ZEMBRA_WIN_CACHE:-/var/cache/zembra-win}

# run_stage NAME LOG COMMAND...: runs the command with its output in LOG; when it fails, says
# which stage failed and where its log is, shows the log's end and returns the status.
run_stage() {
    local name=$1 log=$2 status=0
    shift 2
    "$@" >"$log" 2>&1 </dev/null || status=$?
    if ((status)); then
        echo "test-windows.sh: stage \"$name\" failed with status $status; log: $log" >&2
        tail -n 40 "$log" >&2
    fi
    return $status
}

# in_folder FOLDER COMMAND...: runs the command in FOLDER.
in_folder() {
    local folder=$1
    shift
    (cd "$folder" && "$@")
}

# The source package of a library at the version this machine runs (its Debian binary
# package BINARY), else the newest one the archive still holds: "package=version".
deb_source_of() {
    local binary=$1 source_pkg=$2 version probe
    probe=$(mktemp -d)
    for version in "$(dpkg-query -W -f '${source:Version}' "$binary" 2>/dev/null)" \
        $(apt-cache showsrc "$source_pkg" | sed -n 's/^Version: //p' | sort -rV); do
        [[ -n $version ]] || continue
        if (cd "$probe" && apt-get source -qq --download-only --dsc-only \
            "$source_pkg=$version" >/dev/null 2>&1); then
            rm -rf "$probe"
            echo "$source_pkg=$version"
            return 0
        fi
    done
    rm -rf "$probe"
    echo "test-windows.sh: apt offers no source of $source_pkg that can be fetched" >&2
    return 1
}

# fetch_deb_src PACKAGE=VERSION FOLDER: the unpacked source tree of that version in FOLDER
# (its path on stdout).
fetch_deb_src() {
    local wanted=$1 folder=$2
    (cd "$folder" && apt-get source -qq "$wanted" >/dev/null 2>&1) || {
        echo "apt-get source $wanted failed" >&2
        return 1
    }
    find "$folder" -mindepth 1 -maxdepth 1 -type d | head -n1
}

# The compiler's identity, part of every stamp.
mingw_compiler_id() {
    echo "compiler $(dpkg-query -W -f '${Version}' g++-mingw-w64-x86-64-posix)"
    x86_64-w64-mingw32-g++-posix -v 2>&1 | tail -n1
}

# cached_build NAME STAMP BUILD: makes $win_cache/NAME hold the library of that stamp. When
# the stamp there differs, runs `BUILD PREFIX STAGE WORK` in a private folder WORK: it must
# install into STAGE (the files as they will lie under PREFIX, the final folder), and is
# given the final PREFIX for files that name their own place (pkg-config files, Qt's
# prefix). The lock stays held, shared, for the rest of the run.
cached_build() {
    local name=$1 stamp=$2 build=$3
    local prefix=$win_cache/$1 lock=$win_cache/$1.lock fd
    mkdir -p "$win_cache"
    exec {fd}>>"$lock"
    # Shared while the library is in use (by any number of runs); exclusive to build it.
    take_lock "$fd" -s "$name"
    if ! stamp_is "$prefix" "$stamp"; then
        flock -u "$fd"
        take_lock "$fd" -x "$name"
        # Another run may have built it while this one waited.
        if ! stamp_is "$prefix" "$stamp"; then
            build_into_place "$name" "$prefix" "$stamp" "$build" || {
                flock -u "$fd"
                return 1
            }
        fi
        flock -s "$fd"
    fi
    say "$name: using $prefix (stamp ${stamp:0:12})"
}

stamp_is() {
    [[ -f $1/zembra-stamp && $(<"$1/zembra-stamp") == "$2" ]]
}

# take_lock FD -s|-x NAME: takes the lock, saying so when it has to wait for another run.
take_lock() {
    flock -n "$2" "$1" && return 0
    say "  $3: waiting for another run's lock on $win_cache/$3.lock"
    flock "$2" "$1"
}

# build_into_place NAME PREFIX STAMP BUILD (under the exclusive lock).
build_into_place() {
    local name=$1 prefix=$2 stamp=$3 build=$4 work
    # Left by a run that was killed while it held this lock.
    rm -rf "$win_cache/.$name".*
    work=$(mktemp -d "$win_cache/.$name.XXXXXX")
    say "$name: building into $prefix (stamp ${stamp:0:12})"
    "$build" "$prefix" "$work/stage" "$work" || {
        rm -rf "$work"
        return 1
    }
    echo "$stamp" >"$work/stage/zembra-stamp"
    # Both renames happen under the exclusive lock: no run looks at the folder in between.
    [[ ! -e $prefix ]] || mv "$prefix" "$work/old"
    mv "$work/stage" "$prefix"
    rm -rf "$work"
    say "$name: $(du -sh "$prefix" | cut -f1) installed"
}

# The line server of the Windows check: a PostgreSQL server of its own on the Linux side
# (Debian's server programs), its cluster in a folder of the run, listening on TCP on
# localhost at a free port, password logins (SCRAM) for the user "line". As root the cluster
# belongs to "nobody" (the server refuses to run as root). Sourced by scripts/test-windows.sh.
# start_line_server FOLDER sets line_server (the connection string) and line_pid.

pg_bin=/usr/lib/postgresql/15/bin

# The command prefix that runs a server program as the cluster's owner. (setpriv execs the
# program: a server started in the background has the process id of its start.)
owner_prefix() {
    owner=()
    ((EUID != 0)) || owner=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
}

start_line_server() {
    local folder=$1 password port try
    password=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
    mkdir -p "$folder/data"
    printf '%s\n' "$password" >"$folder/password"
    ((EUID != 0)) || chown -R nobody: "$folder"
    owner_prefix
    run_stage "line server initdb" "$win_logs/line-initdb.log" "${owner[@]}" "$pg_bin/initdb" \
        -D "$folder/data" -U line --pwfile="$folder/password" --auth-local=scram-sha-256 \
        --auth-host=scram-sha-256 --encoding=UTF8 --no-locale || return 1
    # A free port: the server says at once when the one tried is taken.
    for try in $(seq 20); do
        port=$((20000 + RANDOM % 30000))
        "${owner[@]}" "$pg_bin/postgres" -D "$folder/data" -p "$port" -k "$folder" \
            -c listen_addresses=127.0.0.1 -c fsync=off >"$win_logs/line-server.log" 2>&1 &
        line_pid=$!
        for _ in $(seq 300); do
            kill -0 "$line_pid" 2>/dev/null || break
            "$pg_bin/pg_isready" -q -h 127.0.0.1 -p "$port" && break
            sleep 0.1
        done
        kill -0 "$line_pid" 2>/dev/null && break
        wait "$line_pid" 2>/dev/null || true
        line_pid=""
    done
    if [[ -z $line_pid ]]; then
        echo "test-windows.sh: stage \"line server\" failed; log: $win_logs/line-server.log" >&2
        tail -n 20 "$win_logs/line-server.log" >&2
        return 1
    fi
    PGPASSWORD=$password run_stage "line database" "$win_logs/line-createdb.log" \
        "$pg_bin/createdb" -h 127.0.0.1 -p "$port" -U line zembra || return 1
    line_server="host=127.0.0.1 port=$port dbname=zembra user=line password=$password"
    line_psql=(env PGPASSWORD="$password" "$pg_bin/psql" -X -q -A -t -h 127.0.0.1 -p "$port" -U line zembra)
}

stop_line_server() {
    [[ -n ${line_pid:-} ]] || return 0
    kill -INT "$line_pid" 2>/dev/null || true  # fast shutdown
    wait "$line_pid" 2>/dev/null || true
    line_pid=""
}

# Sourced by scripts/test: a private MariaDB server for the data tests, on a unix socket and 127.0.0.1.
# Exports ZZ_MARIADB_SOCKET, ZZ_MARIADB_HOST, ZZ_MARIADB_PORT, ZZ_MARIADB_USER, ZZ_MARIADB_PASSWORD,
# ZZ_MARIADB_DATABASE and ZZ_MARIADB_CTL (the control script, for tests that need a server of their own).
# Without these variables the MariaDB tests skip. Sourcing it again reuses the running server.
#
# By hand:  source scripts/services/mariadb.sh   (then run the tests; zz_mariadb_stop stops the server)

zz_mariadb_ctl="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/mariadb-ctl"
zz_mariadb_dir="${ZZ_MARIADB_DIR:-${BUILD:-/tmp}/mariadb-test}"

zz_mariadb_free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

zz_mariadb_stop() {
    "$zz_mariadb_ctl" stop "$zz_mariadb_dir"
}

zz_mariadb_port="$(cat "$zz_mariadb_dir/port" 2>/dev/null || true)"
if ! "$zz_mariadb_ctl" status "$zz_mariadb_dir" 2>/dev/null; then
    zz_mariadb_port="$(zz_mariadb_free_port 2>/dev/null || echo 33917)"
fi
if "$zz_mariadb_ctl" start "$zz_mariadb_dir" "$zz_mariadb_port"; then
    export ZZ_MARIADB_SOCKET="$zz_mariadb_dir/mysqld.sock"
    export ZZ_MARIADB_HOST=127.0.0.1
    export ZZ_MARIADB_PORT="$zz_mariadb_port"
    export ZZ_MARIADB_USER=zztest
    export ZZ_MARIADB_PASSWORD=zztest
    export ZZ_MARIADB_DATABASE=zztest
    export ZZ_MARIADB_CTL="$zz_mariadb_ctl"
    [[ " ${cleanup[*]-} " == *" zz_mariadb_stop "* ]] || cleanup+=(zz_mariadb_stop)
else
    echo "mariadb.sh: the MariaDB server did not start; the MariaDB tests will skip" >&2
    unset ZZ_MARIADB_SOCKET ZZ_MARIADB_PORT
fi

# Private MariaDB and nginx servers on free loopback ports, for the demo and for trying
# the agent by hand. Source this file, then:
#   servers_start <folder> <web root> [sql file ...]
#       starts both servers with their data, logs and configuration in <folder>; the SQL
#       files run at the database server's start (as --init-file), with @NGINX_PORT@ in
#       them replaced by the web server's port. Sets MARIADB_PORT, NGINX_PORT,
#       MARIADB_GENERAL_LOG and NGINX_ACCESS_LOG.
#   servers_stop
#       stops what servers_start started (safe to call twice; use it in a trap).

_servers_mariadb_pid=""
_servers_nginx_pid=""

# A TCP port on 127.0.0.1 that nothing listens on.
servers_free_port() {
  local port
  while :; do
    port=$(( 20000 + RANDOM % 30000 ))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return
    fi
  done
}

# Waits until <port> accepts connections while process <pid> lives.
_servers_wait_port() {
  local port=$1 pid=$2 what=$3 log=$4 i
  for ((i = 0; i < 600; i++)); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then return 0; fi
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "$what ended at start-up; its log:" >&2
      cat "$log" >&2 || true
      return 1
    fi
    sleep 0.1
  done
  echo "$what did not start listening on port $port" >&2
  return 1
}

servers_start() {
  local dir=$1 root=$2
  shift 2
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  root=$(cd "$root" && pwd)
  local as_root=()
  if [ "$(id -u)" -eq 0 ]; then as_root=(--user=root); fi

  # MariaDB: a fresh data folder, the given SQL files as the init file.
  local data="$dir/mariadb"
  mkdir -p "$data"
  mariadb-install-db --no-defaults --datadir="$data" --auth-root-authentication-method=normal \
    --skip-test-db --skip-name-resolve "${as_root[@]}" >"$dir/mariadb-install.log" 2>&1 || {
    cat "$dir/mariadb-install.log" >&2
    return 1
  }
  MARIADB_PORT=$(servers_free_port)
  NGINX_PORT=$(servers_free_port)
  while [ "$NGINX_PORT" = "$MARIADB_PORT" ]; do NGINX_PORT=$(servers_free_port); done
  : >"$dir/init.sql"
  local sql
  for sql in "$@"; do
    sed "s/@NGINX_PORT@/$NGINX_PORT/g" "$sql" >>"$dir/init.sql"
    echo >>"$dir/init.sql"
  done
  MARIADB_GENERAL_LOG="$dir/mariadb-general.log"
  mariadbd --no-defaults --datadir="$data" --port="$MARIADB_PORT" --bind-address=127.0.0.1 \
    --socket="$dir/mariadb.sock" --pid-file="$dir/mariadb.pid" --log-error="$dir/mariadb-error.log" \
    --skip-name-resolve --skip-log-bin --innodb-buffer-pool-size=32M --performance-schema=OFF \
    --general-log=1 --general-log-file="$MARIADB_GENERAL_LOG" --log-output=FILE \
    --init-file="$dir/init.sql" "${as_root[@]}" >"$dir/mariadb-console.log" 2>&1 &
  _servers_mariadb_pid=$!
  _servers_wait_port "$MARIADB_PORT" "$_servers_mariadb_pid" mariadbd "$dir/mariadb-error.log" || return 1

  # nginx: a generated configuration serving <web root>.
  NGINX_ACCESS_LOG="$dir/nginx-access.log"
  mkdir -p "$dir/nginx"
  {
    if [ "$(id -u)" -eq 0 ]; then echo "user root;"; fi
    echo "daemon off;"
    echo "master_process off;"
    echo "worker_processes 1;"
    echo "pid $dir/nginx/nginx.pid;"
    echo "error_log $dir/nginx-error.log;"
    echo "events { worker_connections 64; }"
    echo "http {"
    echo "  default_type application/octet-stream;"
    echo "  log_format travik '\$time_iso8601 \$request_method \$request_uri range=\"\$http_range\" \$status \$body_bytes_sent';"
    echo "  access_log $NGINX_ACCESS_LOG travik;"
    for t in client_body proxy fastcgi uwsgi scgi; do echo "  ${t}_temp_path $dir/nginx/$t;"; done
    echo "  server {"
    echo "    listen 127.0.0.1:$NGINX_PORT;"
    echo "    root $root;"
    echo "  }"
    echo "}"
  } >"$dir/nginx/nginx.conf"
  nginx -p "$dir/nginx" -e "$dir/nginx-error.log" -c "$dir/nginx/nginx.conf" \
    >"$dir/nginx-console.log" 2>&1 &
  _servers_nginx_pid=$!
  _servers_wait_port "$NGINX_PORT" "$_servers_nginx_pid" nginx "$dir/nginx-error.log" || return 1
}

_servers_stop_one() {
  local pid=$1 i
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

servers_stop() {
  _servers_stop_one "$_servers_nginx_pid"
  _servers_nginx_pid=""
  _servers_stop_one "$_servers_mariadb_pid"
  _servers_mariadb_pid=""
}

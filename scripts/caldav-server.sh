#!/usr/bin/env bash
# Starts or stops a throw-away CalDAV server on 127.0.0.1 for the sync tests: Radicale, or
# with SERVER=xandikos the second server the tests run against.
#   scripts/caldav-server.sh start DIR [PORT]   prints the server's address
#   scripts/caldav-server.sh stop DIR
# For Radicale DIR gets the configuration, a plain password file ("users", one user:password
# a line, read again at every login so tests can add users) and the collections. Xandikos has
# one user and no passwords (it is meant to sit behind a proxy): each test starts its own.
set -euo pipefail
cmd=${1:?start or stop}
dir=${2:?folder}
case "$cmd" in
start)
  port=${3:-0}
  if [ "$port" = 0 ]; then
    port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
  fi
  mkdir -p "$dir/collections"
  if [ "${SERVER:-radicale}" = xandikos ]; then
    /usr/bin/xandikos -d "$dir/collections" -l 127.0.0.1 -p "$port" --autocreate \
      >"$dir/log" 2>&1 </dev/null &
  else
    touch "$dir/users"
    cat >"$dir/config" <<CONF
[server]
hosts = 127.0.0.1:$port
[auth]
type = htpasswd
htpasswd_filename = $dir/users
htpasswd_encryption = plain
delay = 0
[storage]
filesystem_folder = $dir/collections
[rights]
type = owner_only
[logging]
level = warning
CONF
    /usr/bin/python3 -m radicale --config "$dir/config" >"$dir/log" 2>&1 </dev/null &
  fi
  echo $! >"$dir/pid"
  for _ in $(seq 1 100); do
    if /usr/bin/python3 -c "import socket,sys; s=socket.socket(); sys.exit(s.connect_ex(('127.0.0.1',$port)))" 2>/dev/null; then
      echo "http://127.0.0.1:$port/" >"$dir/url"
      cat "$dir/url"
      exit 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "${SERVER:-radicale} did not start:" >&2
  cat "$dir/log" >&2
  exit 1
  ;;
stop)
  if [ -f "$dir/pid" ]; then
    kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/pid"
  fi
  ;;
esac

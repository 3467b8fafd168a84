#!/usr/bin/env bash
# Starts or stops a throw-away Xandikos, the second CalDAV server the sync tests run against,
# on 127.0.0.1. It has one user and no passwords (it is meant to sit behind a proxy), so each
# test starts one of its own.
#   scripts/xandikos.sh start DIR [PORT]   prints the server's address
#   scripts/xandikos.sh stop DIR
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
  /usr/bin/xandikos -d "$dir/collections" -l 127.0.0.1 -p "$port" --autocreate \
    >"$dir/log" 2>&1 </dev/null &
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
  echo "xandikos did not start:" >&2
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

#!/usr/bin/env bash
# Starts a private nginx on a free 127.0.0.1 port (its own config, pid, logs
# and temp folders under a temp directory), runs bench_http.exe against it
# under Wine, then stops that nginx.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
work="$(mktemp -d)"
nginx_pid=""
cleanup() {
  if [[ -n $nginx_pid ]]; then kill "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')"
mkdir -p "$work/html" "$work/logs" "$work/tmp"
printf 'small body for the HTTP engine benchmark\n' > "$work/html/small.txt"
cat > "$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log warn;
$( [[ $(id -u) == 0 ]] && echo "user root;" )
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  keepalive_requests 1000000;
  keepalive_timeout 60s;
  server {
    listen 127.0.0.1:$port;
    root $work/html;
  }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" &
nginx_pid=$!
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
echo "nginx $(nginx -v 2>&1 | sed 's/.*\///') on 127.0.0.1:$port"
"$KV_ROOT/scripts/wine-run.sh" "$KV_BUILD/bench/bench_http.exe" "http://127.0.0.1:$port/small.txt"

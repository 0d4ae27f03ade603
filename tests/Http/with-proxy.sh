#!/usr/bin/env bash
# Runs a test program under Wine with a forward proxy (tinyproxy from Debian)
# on a free 127.0.0.1 port and an https server (nginx, self-signed) on
# 127.0.0.2, at a port where nothing listens on 127.0.0.1, so that "localhost"
# at that port leads nowhere and only the address 127.0.0.2 reaches it. Both
# are stopped whatever the outcome. The program finds them in its environment:
#   KV_PROXY_PORT, KV_PROXY_LOG   the proxy's port and its log (a Windows path)
#   KV_TLS_ADDRESS, KV_TLS_PORT   the https server
#   KV_TLS_ROOT, KV_TLS_LOG       its document folder and access log (Windows
#                                 paths); a log line is
#                                 status "TLS server name" "Host" "request"
# The https server redirects /to-http?port=N to http://127.0.0.1:N/plain and
# /to-https to its own /pkg.exe.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$KV_ROOT/scripts/nginx-lib.sh"  # nginx_free_port, nginx_start
work="$(mktemp -d)"
port="$(nginx_free_port)"
cat > "$work/tinyproxy.conf" <<CONF
Port $port
Listen 127.0.0.1
Timeout 60
Allow 127.0.0.1
LogFile "$work/tinyproxy.log"
LogLevel Info
MaxClients 20
CONF
tinyproxy -d -c "$work/tinyproxy.conf" >"$work/stdout.log" 2>&1 &
proxy_pid=$!
trap 'kill $proxy_pid 2>/dev/null || true; wait $proxy_pid 2>/dev/null || true; nginx_stop; rm -rf "$work"' EXIT
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

mkdir -p "$work/tls-root"
nginx_work="$work/nginx" nginx_addr=127.0.0.2 nginx_tls=1 nginx_access_log=1
nginx_log_format='$status "$ssl_server_name" "$host" "$request"'
nginx_server_extra='location = /to-http { return 302 http://127.0.0.1:$arg_port/plain; }
    location = /to-https { return 302 /pkg.exe; }'
nginx_start "$work/tls-root"

windows() { local p=$1; echo "Z:${p//\//\\}"; }
export KV_PROXY_PORT=$port KV_PROXY_LOG="$(windows "$work/tinyproxy.log")"
export KV_TLS_ADDRESS=127.0.0.2 KV_TLS_PORT=$nginx_port
export KV_TLS_ROOT="$(windows "$work/tls-root")" KV_TLS_LOG="$(windows "$work/nginx/logs/access.log")"
echo "proxy: tinyproxy on 127.0.0.1:$port; https: nginx on 127.0.0.2:$nginx_port"
"$KV_ROOT/scripts/wine-run.sh" "$@"

#!/usr/bin/env bash
# Runs a test program under Wine with a forward proxy (tinyproxy from Debian)
# on a free 127.0.0.1 port; its port is in KV_PROXY_PORT. The proxy is
# stopped whatever the outcome.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
source "$KV_ROOT/scripts/nginx-lib.sh"  # nginx_free_port
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
trap 'kill $proxy_pid 2>/dev/null || true; wait $proxy_pid 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
export KV_PROXY_PORT=$port
echo "proxy: tinyproxy on 127.0.0.1:$port"
"$KV_ROOT/scripts/wine-run.sh" "$@"

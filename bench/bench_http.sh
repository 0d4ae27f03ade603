#!/usr/bin/env bash
# Starts a private nginx on a free 127.0.0.1 port (its own config, pid, logs
# and temp folders under a temp directory), runs bench_http.exe against it
# under Wine, then stops that nginx.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
source "$KV_ROOT/scripts/nginx-lib.sh"
html="$(mktemp -d)"
trap 'rm -rf "$html"; nginx_stop' EXIT
printf 'small body for the HTTP engine benchmark\n' > "$html/small.txt"
nginx_start "$html" "keepalive_requests 1000000; keepalive_timeout 60s;"
"$KV_ROOT/scripts/wine-run.sh" "$KV_BUILD/bench/bench_http.exe" "http://127.0.0.1:$nginx_port/small.txt"

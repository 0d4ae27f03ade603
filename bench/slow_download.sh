#!/usr/bin/env bash
# A slow but moving download is never cut by the low-speed limit: a private
# nginx serves a large file at a low rate (limit_rate; default 16 KiB/s for
# 2 MiB, about two minutes, twice the limit's one-minute window), and
# bench_download.exe fetches it with the product's time limits. Passes when
# the file arrives whole, byte-identical, in exactly one request (a cut would
# show as a second request). KV_SLOW_RATE (nginx rate, e.g. 16k or 50 for
# bytes) and KV_SLOW_KIB (file size) change the figures.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
rate="${KV_SLOW_RATE:-16k}"
kib="${KV_SLOW_KIB:-2048}"
source "$KV_ROOT/scripts/nginx-lib.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"; nginx_stop' EXIT
mkdir -p "$work/html" "$work/out"
head -c $((kib * 1024)) /dev/urandom > "$work/html/slow.bin"
nginx_access_log=1
nginx_start "$work/html" "limit_rate $rate;"
out="$work/out/slow.bin"
echo "downloading $kib KiB at nginx limit_rate $rate"
start=$(date +%s)
line="$("$KV_ROOT/scripts/wine-run.sh" "$KV_BUILD/bench/bench_download.exe" "http://127.0.0.1:$nginx_port/slow.bin" "Z:${out//\//\\}" | tr -d '\r' | grep '^RESULT' || true)"
echo "$line"
echo "elapsed $(( $(date +%s) - start )) s"
requests=$(grep -c 'slow.bin' "$nginx_work/logs/access.log" || true)
echo "requests to nginx: $requests"
cut -d' ' -f1-10 "$nginx_work/logs/access.log" | sed 's/^/  /'
if [[ $requests == 1 ]] && cmp -s "$out" "$work/html/slow.bin" && grep -q 'type=0 code=0' <<<"$line"; then
  echo "PASS: the slow download arrived whole in one request"
else
  echo "FAIL: the slow download was cut or differs" >&2
  exit 1
fi

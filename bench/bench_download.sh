#!/usr/bin/env bash
# Download throughput and memory: a private nginx on a free 127.0.0.1 port
# serves a 512 MiB and a 16 MiB file of random bytes (made in a temp folder
# and deleted afterwards). Under Wine, bench_download.exe (CHttpDownloadFile)
# and curl.exe (cross-built from the same libcurl) each download the 512 MiB
# file to a file, in alternating rounds; every result is compared with the
# source. Prints MB/s (10^6 bytes) per round, the medians and their ratio,
# and bench_download.exe's peak working set for the 16 MiB and 512 MiB files.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
rounds="${KV_BENCH_ROUNDS:-3}"
curl_exe="${KV_CURL_EXE:-$KV_DEPS/curl/bin/curl.exe}"
source "$KV_ROOT/scripts/nginx-lib.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"; nginx_stop' EXIT

winpath() { local p="$1"; echo "Z:${p//\//\\}"; }

mkdir -p "$work/html" "$work/out"
head -c $((512 * 1024 * 1024)) /dev/urandom > "$work/html/big.bin"
head -c $((16 * 1024 * 1024)) /dev/urandom > "$work/html/small.bin"
nginx_start "$work/html" "sendfile on;"
echo "$rounds rounds of 512 MiB each"

base="http://127.0.0.1:$nginx_port"
out="$work/out/file.bin"
engine_rates=()
curl_rates=()
check() {
  cmp -s "$1" "$2" || { echo "FAILED: $3 gave a file that differs from the source" >&2; exit 1; }
}
run_engine() {  # url source -> sets line
  line="$("$KV_ROOT/scripts/wine-run.sh" "$KV_BUILD/bench/bench_download.exe" "$1" "$(winpath "$out")" | tr -d '\r' | grep '^RESULT')"
  check "$out" "$2" bench_download.exe
}
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$line"; }

for round in $(seq "$rounds"); do
  run_engine "$base/big.bin" "$work/html/big.bin"
  engine_rates+=("$(field mbps)")
  peak_big="$(field peak_ws_kib)"
  rm -f "$out"
  speed="$("$KV_ROOT/scripts/wine-run.sh" "$curl_exe" -s -o "$(winpath "$out")" -w '%{speed_download}' "$base/big.bin" | tr -d '\r')"
  check "$out" "$work/html/big.bin" curl.exe
  curl_rates+=("$(python3 -c "print(f'{$speed / 1e6:.1f}')")")
  rm -f "$out"
  echo "round $round: CHttpDownloadFile ${engine_rates[-1]} MB/s, curl.exe ${curl_rates[-1]} MB/s"
done

run_engine "$base/small.bin" "$work/html/small.bin"
peak_small="$(field peak_ws_kib)"
rm -f "$out"

python3 - "${engine_rates[*]}" "${curl_rates[*]}" "$peak_small" "$peak_big" <<'PY'
import statistics, sys
engine = [float(x) for x in sys.argv[1].split()]
curl = [float(x) for x in sys.argv[2].split()]
e, c = statistics.median(engine), statistics.median(curl)
print(f"median CHttpDownloadFile: {e:.1f} MB/s")
print(f"median curl.exe:          {c:.1f} MB/s")
print(f"ratio CHttpDownloadFile / curl.exe: {e / c:.2f} (target >= 0.90)")
small, big = int(sys.argv[3]), int(sys.argv[4])
print(f"peak working set of bench_download.exe:  16 MiB download {small / 1024:.1f} MiB, 512 MiB download {big / 1024:.1f} MiB (ratio {big / small:.2f})")
PY

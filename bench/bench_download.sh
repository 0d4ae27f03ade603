#!/usr/bin/env bash
# Download throughput and memory: a private nginx on a free 127.0.0.1 port
# serves a 512 MiB and a 16 MiB file of random bytes (made in a temp folder
# and deleted afterwards). Under Wine, bench_download.exe (CHttpDownloadFile)
# and curl.exe (cross-built from the same libcurl) each download the 512 MiB
# file to a file, in alternating rounds; every result is compared with the
# source. Prints MB/s (10^6 bytes) per round, the medians and their ratio,
# the peak resident memory of both programs for the 512 MiB download (the
# Wine process's maximum resident set, measured the same way for both) and
# their ratio, and bench_download.exe's peak for the 16 MiB file.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
rounds="${KV_BENCH_ROUNDS:-3}"
curl_exe="${KV_CURL_EXE:-$KV_DEP_LINKS/curl/bin/curl.exe}"
source "$KV_ROOT/scripts/nginx-lib.sh"
work="$(mktemp -d)"
trap 'rm -rf "$work"; nginx_stop' EXIT

winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
# Runs a command, passes its output through and appends "PEAK_KIB <n>": the
# largest resident set of the processes it waited for (the Wine process of
# the program; wineserver is not a waited child).
with_peak() {
  python3 -c 'import resource, subprocess, sys
r = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE)
sys.stdout.write(r.stdout.decode(errors="replace") + "\nPEAK_KIB %d\n" % resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
sys.exit(r.returncode)' "$@"
}

mkdir -p "$work/html" "$work/out"
head -c $((512 * 1024 * 1024)) /dev/urandom > "$work/html/big.bin"
head -c $((16 * 1024 * 1024)) /dev/urandom > "$work/html/small.bin"
nginx_start "$work/html" "sendfile on;"
echo "$rounds rounds of 512 MiB each"

base="http://127.0.0.1:$nginx_port"
out="$work/out/file.bin"
engine_rates=()
curl_rates=()
engine_peaks=()
curl_peaks=()
check() {
  cmp -s "$1" "$2" || { echo "FAILED: $3 gave a file that differs from the source" >&2; exit 1; }
}
run_engine() {  # url source -> sets line (RESULT ... peak_kib=<resident peak>)
  local text
  text="$(with_peak "$KV_ROOT/scripts/wine-run.sh" "$KV_BUILD/bench/bench_download.exe" "$1" "$(winpath "$out")" | tr -d '\r')"
  line="$(grep '^RESULT' <<<"$text") peak_kib=$(sed -n 's/^PEAK_KIB //p' <<<"$text")"
  check "$out" "$2" bench_download.exe
}
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$line"; }

for round in $(seq "$rounds"); do
  run_engine "$base/big.bin" "$work/html/big.bin"
  engine_rates+=("$(field mbps)")
  engine_peaks+=("$(field peak_kib)")
  rm -f "$out"
  text="$(with_peak "$KV_ROOT/scripts/wine-run.sh" "$curl_exe" -s -o "$(winpath "$out")" -w '%{speed_download}\n' "$base/big.bin" | tr -d '\r')"
  speed="$(head -n 1 <<<"$text")"
  curl_peaks+=("$(sed -n 's/^PEAK_KIB //p' <<<"$text")")
  check "$out" "$work/html/big.bin" curl.exe
  curl_rates+=("$(python3 -c "print(f'{$speed / 1e6:.1f}')")")
  rm -f "$out"
  echo "round $round: CHttpDownloadFile ${engine_rates[-1]} MB/s ${engine_peaks[-1]} KiB peak, curl.exe ${curl_rates[-1]} MB/s ${curl_peaks[-1]} KiB peak"
done

run_engine "$base/small.bin" "$work/html/small.bin"
peak_small="$(field peak_kib)"
rm -f "$out"

python3 - "${engine_rates[*]}" "${curl_rates[*]}" "$peak_small" "${engine_peaks[*]}" "${curl_peaks[*]}" <<'PY'
import statistics, sys
engine = [float(x) for x in sys.argv[1].split()]
curl = [float(x) for x in sys.argv[2].split()]
e, c = statistics.median(engine), statistics.median(curl)
print(f"median CHttpDownloadFile: {e:.1f} MB/s")
print(f"median curl.exe:          {c:.1f} MB/s")
print(f"ratio CHttpDownloadFile / curl.exe: {e / c:.2f} (target >= 0.90)")
small = int(sys.argv[3])
ep = statistics.median(int(x) for x in sys.argv[4].split())
cp = statistics.median(int(x) for x in sys.argv[5].split())
print(f"median peak resident, 512 MiB download: bench_download.exe {ep / 1024:.1f} MiB, curl.exe {cp / 1024:.1f} MiB")
print(f"ratio peak resident bench_download.exe / curl.exe: {ep / cp:.2f} (target <= 1.50)")
print(f"peak resident of bench_download.exe: 16 MiB download {small / 1024:.1f} MiB, 512 MiB download {ep / 1024:.1f} MiB (ratio {ep / small:.2f})")
PY

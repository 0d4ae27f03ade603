#!/usr/bin/env bash
# The resume check of a large partial file: the project's nginx serves a
# package of random bytes (KV_BENCH_MIB, default 256 MiB; limit_rate
# KV_BENCH_RATE per connection, default 16m) and bench_download.exe resumes
# a partial file holding its first KV_BENCH_PARTIAL_MIB (default 200) MiB,
# with piece digests (its pieces are checked on a worker before they count)
# and without (nothing to check), KV_BENCH_ROUNDS (default 3) times each.
# Prints per run the seconds until the first bytes beyond the partial file
# (check_s; progress comes once a second, so it is that coarse), the main
# thread's busiest second in them and over the whole run (target < 50 ms:
# the window keeps animating), and the medians. Every file is compared with
# the source by SHA-256.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
rounds="${KV_BENCH_ROUNDS:-3}"
mib="${KV_BENCH_MIB:-256}"
partial="${KV_BENCH_PARTIAL_MIB:-200}"
rate="${KV_BENCH_RATE:-16m}"
bench_exe="$KV_BUILD/bench/bench_download.exe"
[[ -f $bench_exe ]] || { echo "build first: scripts/build.sh ($bench_exe missing)" >&2; exit 1; }
source "$KV_ROOT/bench/bench-lib.sh"
bench_serve_package "$mib" "$rate"
echo "$rounds rounds, $mib MiB package, $partial MiB partial file, limit_rate $rate per connection"
out="$work/out/pkg.bin"
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$2 "; }
# run LABEL [PIECES FILE]
check_s=() check_busy=() run_busy=() plain_busy=()
run() {
  # On the disk, as an earlier session leaves it: else the first save of the
  # download's state (FlushFileBuffers, main thread) writes it all out.
  head -c $((partial * 1024 * 1024)) "$work/html/pkg.bin" > "$out"
  sync "$out"
  local text result resume
  text="$(KV_BENCH_KEEP_PARTIAL=1 WINEDEBUG=-all "$KV_ROOT/scripts/wine-run.sh" "$bench_exe" \
    "http://127.0.0.1:$nginx_port/limited/pkg.bin" "$(winpath "$out")" "http://127.0.0.1:$port2/limited/pkg.bin" "$size" 0 \
    ${2:+"$(winpath "$2")"} | tr -d '\r')"
  result="$(grep '^RESULT' <<<"$text")" resume="$(grep '^RESUME' <<<"$text")"
  [[ $(field type "$result") == 0 && $(sha256sum "$out" | cut -c1-64) == "$digest" ]] ||
    { echo "FAILED: $1: $result" >&2; exit 1; }
  rm -f "$out" "$out.ranges"
  echo "$1: resumed from $(field from "$resume") bytes; first bytes beyond it after $(field check_s "$resume") s," \
       "main thread's busiest second before them $(field check_busiest_ms "$resume") ms, over the run" \
       "$(field main_busiest_ms "$result") ms (each second: $(field busy_ms "$resume"))"
  b_check_s=$(field check_s "$resume") b_check=$(field check_busiest_ms "$resume") b_run=$(field main_busiest_ms "$result")
}
for round in $(seq "$rounds"); do
  run "round $round, piece digests" "$work/pieces.txt"
  check_s+=("$b_check_s") check_busy+=("$b_check") run_busy+=("$b_run")
  run "round $round, no digests"
  plain_busy+=("$b_check")
done
python3 - "${check_s[*]}" "${check_busy[*]}" "${run_busy[*]}" "${plain_busy[*]}" <<'PY'
import statistics, sys
cs, cb, rb, pb = [statistics.median(float(x) for x in a.split()) for a in sys.argv[1:]]
print(f"median with piece digests: first bytes after {cs:.2f} s; main thread's busiest second {cb:.1f} ms before them"
      f" (no digests: {pb:.1f} ms), {rb:.1f} ms over the run (target < 50)")
PY

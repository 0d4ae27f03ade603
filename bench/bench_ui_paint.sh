#!/usr/bin/env bash
# CPU cost of the skinned window's painting under Wine. Runs tools/skin_demo
# on the display it is given (scripts/bench.sh provides Xvfb) and measures
# the demo process's CPU time (user + system, from /proc) over a window of
# KV_BENCH_SECONDS (default 20) after a settling pause, for:
#   welcome page   idle: the demo's timer ticks, nothing repaints
#   progress page  the bar's 20 ms timer stepping it (a repaint of the bar
#                  and its label every other tick)
#   progress page without the kept back buffer and image cache (each paint
#   makes its off-screen image, and GDI+ draws every image, as before)
# at each display scale of KV_BENCH_DPIS (default "96 192": 100% and 200%;
# the last case at 96 only). Prints each as a percentage of one core and
# the ratios.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
source "$KV_ROOT/scripts/with-display-scale.sh"
dpis="${KV_BENCH_DPIS:-96 192}"
trap display_scale_restore EXIT
seconds="${KV_BENCH_SECONDS:-20}"
exe="$KV_BUILD/tools/skin_demo.exe"
[[ -f $exe ]] || { echo "build first: $exe is missing" >&2; exit 1; }
"$KV_ROOT/scripts/wine-prefix.sh"
tck="$(getconf CLK_TCK)"

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# measure LABEL ARGS... -> prints "LABEL: N.NN % of one core" and sets pct
measure() {
  local label="$1"; shift
  wine "$exe" "$@" >/dev/null 2>&1 &
  local launcher=$! pid="" i
  for i in $(seq 50); do
    pid="$(pgrep -n -f "skin_demo.exe $*" || true)"
    [[ -n $pid ]] && break
    sleep 0.2
  done
  [[ -n $pid ]] || { echo "FAILED: $label did not start" >&2; exit 1; }
  sleep 5  # start-up, first paints, the shadow's one-second redraw
  local t0 c0 t1 c1
  t0="$(date +%s.%N)"; c0="$(cpu_ticks "$pid")"
  sleep "$seconds"
  t1="$(date +%s.%N)"; c1="$(cpu_ticks "$pid")"
  kill "$pid" 2>/dev/null || true
  wait "$launcher" 2>/dev/null || true
  sleep 1
  pct="$(awk -v c="$((c1 - c0))" -v t="$tck" -v a="$t0" -v b="$t1" 'BEGIN{printf "%.2f", 100 * c / t / (b - a)}')"
  printf '%-52s %6s %% of one core\n' "$label:" "$pct"
}

echo "skin_demo CPU over ${seconds} s per case (process user+system time)"
declare -A progress_at
for dpi in $dpis; do
  display_scale_set "$dpi"
  echo "-- at $dpi DPI ($((dpi * 100 / 96))%)"
  measure "welcome page (idle)" main 0
  welcome="$pct"
  measure "progress page (animated)" main 2
  progress="$pct"
  progress_at[$dpi]=$progress
  awk -v a="$progress" -v w="$welcome" 'BEGIN{ printf "progress page over idle welcome page: %+.2f points\n", a - w }'
  if (( dpi == 96 )); then
    measure "progress page, no kept back buffer / image cache" main 2 --no-paint-cache
    awk -v a="$progress" -v b="$pct" 'BEGIN{ printf "ratio progress / progress without caching: %.2f\n", (b > 0 ? a / b : 0) }'
  fi
done
display_scale_restore
if [[ -n ${progress_at[96]:-} && -n ${progress_at[192]:-} ]]; then
  awk -v a="${progress_at[192]}" -v b="${progress_at[96]}" \
    'BEGIN{ printf "animated progress page, 200%% over 100%%: %.2f\n", (b > 0 ? a / b : 0) }'
fi

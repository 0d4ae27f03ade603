#!/usr/bin/env bash
# Installer figures other than size, in one run under Wine (inside an X
# display; scripts/bench.sh bench_installer gives one):
#  - time from start to the first painted window at each display scale of
#    KV_BENCH_DPIS (default "96 192": 100% and 200%): the installer, and as
#    its peers in the same run the skin demo (same skin, no HTTP engines), a
#    bare Wine process start and, when KV_BENCH_BASELINE names one, an
#    earlier build of the installer (the one before a change, to compare).
# What the installer costs while it waits is bench_idle_cpu.sh's.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
source "$KV_ROOT/scripts/installer-driver.sh"
source "$KV_ROOT/scripts/with-display-scale.sh"
rounds="${KV_BENCH_ROUNDS:-3}"
dpis="${KV_BENCH_DPIS:-96 192}"
baseline="${KV_BENCH_BASELINE:-}"
[[ -z $baseline || -f $baseline ]] || { echo "KV_BENCH_BASELINE: $baseline not found" >&2; exit 1; }
work="$(mktemp -d)"
trap 'display_scale_restore; end_run; wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
prepare_run "$work"
E2E_SHOTS="$work"
# A port nobody listens on: every descriptor fetch fails at once.
use_port "$(free_port)"
wineserver -p 60 2>/dev/null || true   # keep the server up between runs: each start pays only its own cost
wine cmd /c exit 2>/dev/null || true

ms_now() { date +%s%3N; }
# The colour of one screen pixel, e.g. "#FF8A2B".
pixel() { import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null | grep -o '#[0-9A-F]\{6\}' | head -1; }

# Milliseconds from starting `wine PROGRAM ARGS` until the window titled
# TITLE shows its painted skin (the pixel at client X,Y is no longer black
# or white).
time_to_paint() {
  local title=$1 x=$2 y=$3; shift 3
  local t0 id color
  t0=$(ms_now)
  wine "$@" >/dev/null 2>&1 & local pid=$!
  for _ in $(seq 600); do
    id="$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -1 || true)"
    if [[ -n $id ]]; then
      eval "$(xdotool getwindowgeometry --shell "$id")"
      color="$(pixel $((X + x)) $((Y + y)))"
      [[ -n $color && $color != "#000000" && $color != "#FFFFFF" ]] && break
    fi
    sleep 0.02
  done
  echo $(( $(ms_now) - t0 ))
  kill $pid 2>/dev/null || true; wait $pid 2>/dev/null || true
  wineserver -w 2>/dev/null & local w=$!; sleep 1; kill $w 2>/dev/null || true
}

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

echo "== start to first painted window ($rounds rounds, median)"
for dpi in $dpis; do
  display_scale_set "$dpi"
  DISPLAY_DPI=$dpi
  echo "-- at $dpi DPI ($((dpi * 100 / 96))%)"
  inst=() demo=() bare=() base=()
  for _ in $(seq "$rounds"); do
    t0=$(ms_now); wine cmd /c exit >/dev/null 2>&1; bare+=($(( $(ms_now) - t0 )))
    # The install button's orange, 269,259 in the window at 100%.
    inst+=("$(time_to_paint "$MAIN_TITLE" "$(scaled 269)" "$(scaled 259)" "$INSTALLER_EXE" "/LANG=$KV_LANG")")
    demo+=("$(time_to_paint "$MAIN_TITLE" "$(scaled 269)" "$(scaled 259)" "$KV_BUILD/tools/skin_demo.exe" main 0)")
    # An installer built before display scaling stays at 100% (Wine never
    # stretches a window).
    [[ -n $baseline ]] && base+=("$(time_to_paint "$MAIN_TITLE" 269 259 "$baseline")")
  done
  mi=$(median "${inst[@]}") md=$(median "${demo[@]}") mb=$(median "${bare[@]}")
  echo "installer:          ${mi} ms   (rounds: ${inst[*]})"
  echo "skin demo (peer):   ${md} ms   (rounds: ${demo[*]})"
  echo "bare Wine process:  ${mb} ms   (rounds: ${bare[*]})"
  awk -v a="$mi" -v b="$md" 'BEGIN {printf "installer / skin demo: %.2f\n", a / b}'
  if [[ -n $baseline ]]; then
    mo=$(median "${base[@]}")
    echo "earlier installer:  ${mo} ms   (rounds: ${base[*]})"
    awk -v a="$mi" -v b="$mo" 'BEGIN {printf "installer / earlier installer: %.2f\n", a / b}'
  fi
done
display_scale_restore
DISPLAY_DPI=96

#!/usr/bin/env bash
# What the installer costs while it waits: the CPU time (user + system, from
# /proc) of the installer's process and of its prefix's Wine server, as a
# percentage of one core over KV_BENCH_SECONDS (default 20) after a settling
# pause, for
#   welcome page     idle, nothing clicked
#   folder page      idle after 自定义安装
#   retry wait       the update server down, the failure notice answered,
#                    the progress page waiting for its next try
#   progress page    downloading from a slow loopback server (the bar and its
#                    animation running), at 100% and at 200% display scale
# The installers compared come from KV_BENCH_INSTALLERS ("label=path ..."),
# default the build's own; pass an older build as a peer to compare in the
# same run. KV_BENCH_CASES picks some of the cases. Needs a display
# (scripts/bench.sh provides one).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
source "$KV_ROOT/scripts/with-display-scale.sh"
export KV_WINEPREFIX="${KV_BENCH_WINEPREFIX:-$KV_CACHE/wineprefix-bench}"
export WINEPREFIX="$KV_WINEPREFIX"
export KV_WINE_UNMANAGED=KorvelQixarInstaller.exe
source "$KV_ROOT/scripts/installer-driver.sh"
seconds="${KV_BENCH_SECONDS:-20}"
installers="${KV_BENCH_INSTALLERS:-now=$KV_BUILD/src/App/KorvelQixarInstaller.exe}"
tck="$(getconf CLK_TCK)"
work="$(mktemp -d /tmp/kv-bench-cpu-XXXX)"
trap 'end_run; display_scale_restore; rm -rf "$work"' EXIT

# The Wine server of this prefix: it works in a folder named after the
# prefix's device and inode.
wineserver_pid() {
  local dir pid
  dir="$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")"
  for pid in $(pgrep wineserver); do
    [[ $(readlink "/proc/$pid/cwd") == */$dir ]] && { echo "$pid"; return; }
  done
}
installer_pid() { pgrep -n -f 'app\\KorvelQixarInstaller.exe|app/KorvelQixarInstaller.exe'; }
ticks() { local p t=0; for p in "$@"; do t=$((t + $(awk '{print $14 + $15}' "/proc/$p/stat"))); done; echo $t; }

# sample LABEL: the share of one core over the measuring window.
sample() {
  local pids=("$(installer_pid)" "$(wineserver_pid)") t0 c0 t1 c1
  [[ -n ${pids[0]} && -n ${pids[1]} ]] || fail "$1: installer or Wine server not found"
  t0="$(date +%s.%N)"; c0="$(ticks "${pids[@]}")"
  sleep "$seconds"
  t1="$(date +%s.%N)"; c1="$(ticks "${pids[@]}")"
  awk -v c="$((c1 - c0))" -v t="$tck" -v a="$t0" -v b="$t1" 'BEGIN{printf "%.2f", 100 * c / t / (b - a)}'
}

# run_case INSTALLER CASE: prints the figure of one case with one installer.
run_case() {
  local exe=$1 case=$2 dir="$work/$2"
  {
  rm -rf "$dir"; export KV_E2E_INSTALLER="$exe"
  prepare_run "$dir"
  case $case in
    welcome | folder)
      use_port "$(free_port)"; start_installer 7
      [[ $case == folder ]] && click_main "$XY_FREE" && wait_log "CMainDlg::SelectPage 1" 10 ;;
    retry)
      use_port "$(free_port)"; start_installer 7
      click_main "$XY_INSTALL"
      answer_box "^$BOX_TITLE\$" "$XY_BOX_OK_ALONE" ;;
    progress*)
      # About a minute of download: the measuring window falls inside it.
      server_start --rate $(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 60 ))
      start_installer 7; click_main "$XY_INSTALL"
      wait_log "CInstallController::OnProgress" 30 ;;
  esac
  sleep 5
  } >&2
  sample "$case"
  { end_run; INSTALLER_PID=""; sleep 1; } >&2
}

read -ra cases <<<"${KV_BENCH_CASES:-welcome folder retry progress progress@200}"
declare -A figure
for entry in $installers; do
  label=${entry%%=*}; exe=${entry#*=}
  [[ -f $exe ]] || { echo "missing installer: $exe" >&2; exit 1; }
  for c in "${cases[@]}"; do
    if [[ $c == *@200 ]]; then display_scale_set 192; else display_scale_set 96; fi
    DISPLAY_DPI=$KV_DISPLAY_DPI
    figure[$label/$c]="$(run_case "$exe" "${c%@*}")"
  done
done
display_scale_restore

echo "installer + Wine server CPU over ${seconds} s per case, % of one core"
printf '%-22s' case; for entry in $installers; do printf '%12s' "${entry%%=*}"; done; echo
for c in "${cases[@]}"; do
  printf '%-22s' "$c"
  for entry in $installers; do printf '%12s' "${figure[${entry%%=*}/$c]}"; done
  echo
done
set -- $installers
if (($# == 2)); then
  a=${1%%=*}; b=${2%%=*}
  for c in "${cases[@]}"; do
    awk -v x="${figure[$a/$c]}" -v y="${figure[$b/$c]}" -v c="$c" -v a="$a" -v b="$b" \
      'BEGIN{ if (y > 0) printf "%-22s %s / %s = %.2f\n", c, a, b, x / y }'
  done
fi

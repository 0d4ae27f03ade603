#!/usr/bin/env bash
# Runs a command with the Wine prefix's display scale set to DPI (96 = 100%,
# 120 = 125%, 144 = 150%, 192 = 200%): "LogPixels" in HKCU\Control Panel\Desktop
# and HKCC\Software\Fonts, which Wine reports through GetDpiForWindow,
# GetDpiForMonitor and LOGPIXELSX to programs started afterwards. The command
# sees KV_DISPLAY_DPI. The earlier values are put back afterwards, whatever the
# outcome; meanwhile every program started in the prefix sees the scale, so
# run nothing else in it. Usage: with-display-scale.sh DPI command...
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
dpi=${1:?usage: with-display-scale.sh DPI command...}
shift
[[ $dpi =~ ^[0-9]+$ ]] && (( dpi >= 48 && dpi <= 480 )) || { echo "with-display-scale.sh: bad DPI '$dpi'" >&2; exit 2; }
"$KV_ROOT/scripts/wine-prefix.sh" >/dev/null
keys=('HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts')

# The value now, as a decimal number, or empty when it is not set.
current() {
  local v
  v="$(wine reg query "$1" /v LogPixels 2>/dev/null | tr -d '\r' | awk '$1 == "LogPixels" { print $3 }' || true)"
  [[ $v =~ ^0x[0-9a-fA-F]+$ ]] && echo $((v)) || true
}
set_value() { wine reg add "$1" /v LogPixels /t REG_DWORD /d "$2" /f >/dev/null 2>&1; }

saved=()
for key in "${keys[@]}"; do saved+=("$(current "$key")"); done
restore() {
  local i
  for i in "${!keys[@]}"; do
    if [[ -n ${saved[$i]} ]]; then set_value "${keys[$i]}" "${saved[$i]}"
    else wine reg delete "${keys[$i]}" /v LogPixels /f >/dev/null 2>&1 || true; fi
  done
}
trap restore EXIT
for key in "${keys[@]}"; do set_value "$key" "$dpi"; done
export KV_DISPLAY_DPI=$dpi
status=0
"$@" || status=$?
exit $status

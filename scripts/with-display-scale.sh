#!/usr/bin/env bash
# Runs a command with the Wine prefix's display scale set to DPI (96 = 100%,
# 120 = 125%, 144 = 150%, 192 = 200%): "LogPixels" in HKCU\Control Panel\Desktop
# and HKCC\Software\Fonts, which Wine reports through GetDpiForWindow,
# GetDpiForMonitor and LOGPIXELSX to programs started afterwards. The command
# sees KV_DISPLAY_DPI. The earlier values are put back afterwards, whatever the
# outcome; meanwhile every program started in the prefix sees the scale, so
# run nothing else in it. Usage: with-display-scale.sh DPI command...
# Sourced (after env.sh), it only defines display_scale_set DPI and
# display_scale_restore, for scripts that measure at several scales.

_kv_scale_keys=('HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts')
_kv_scale_saved=()

# The value now, as a decimal number, or empty when it is not set.
_kv_scale_current() {
  local v
  v="$(wine reg query "$1" /v LogPixels 2>/dev/null | tr -d '\r' | awk '$1 == "LogPixels" { print $3 }' || true)"
  [[ $v =~ ^0x[0-9a-fA-F]+$ ]] && echo $((v)) || true
}
_kv_scale_write() { wine reg add "$1" /v LogPixels /t REG_DWORD /d "$2" /f >/dev/null 2>&1; }

# display_scale_set DPI: the prefix's scale from now on (the first call
# remembers the values to put back).
display_scale_set() {
  local dpi=$1 key
  [[ $dpi =~ ^[0-9]+$ ]] && (( dpi >= 48 && dpi <= 480 )) || { echo "display scale: bad DPI '$dpi'" >&2; return 2; }
  if (( ${#_kv_scale_saved[@]} == 0 )); then
    "$KV_ROOT/scripts/wine-prefix.sh" >/dev/null
    for key in "${_kv_scale_keys[@]}"; do _kv_scale_saved+=("$(_kv_scale_current "$key")"); done
  fi
  for key in "${_kv_scale_keys[@]}"; do _kv_scale_write "$key" "$dpi"; done
  export KV_DISPLAY_DPI=$dpi
}

# display_scale_restore: the values from before the first display_scale_set.
display_scale_restore() {
  local i
  (( ${#_kv_scale_saved[@]} == 0 )) && return 0
  for i in "${!_kv_scale_keys[@]}"; do
    if [[ -n ${_kv_scale_saved[$i]} ]]; then _kv_scale_write "${_kv_scale_keys[$i]}" "${_kv_scale_saved[$i]}"
    else wine reg delete "${_kv_scale_keys[$i]}" /v LogPixels /f >/dev/null 2>&1 || true; fi
  done
  _kv_scale_saved=()
  unset KV_DISPLAY_DPI
}

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
  set -euo pipefail
  source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
  dpi=${1:?usage: with-display-scale.sh DPI command...}
  shift
  trap display_scale_restore EXIT
  display_scale_set "$dpi"
  status=0
  "$@" || status=$?
  exit $status
fi

#!/usr/bin/env bash
# Runs inside an X display (see demo.sh): starts the installer under Wine,
# saves a screenshot of its window, closes it with a real click on its close
# button and reports how the program ended.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
source "$KV_ROOT/scripts/desktop-lib.sh"
export KV_SCREEN_OUT="${KV_SCREEN_OUT:-$KV_ROOT/out/screens}"
exe="$KV_BUILD/src/App/KorvelQixarInstaller.exe"
title="安装KorvelQixar"
pad=24

desktop_start
wine "$exe" "${1:-}" >/dev/null 2>&1 &
pid=$!
win=""
for _ in $(seq 100); do
  win="$(xdotool search --name "$title" 2>/dev/null | head -1 || true)"
  [[ -n $win ]] && break
  sleep 0.2
done
[[ -n $win ]] || { echo "demo: the installer window did not appear" >&2; kill $pid; exit 1; }
sleep 2
eval "$(xdotool getwindowgeometry --shell "$win")"  # X Y WIDTH HEIGHT
echo "demo: installer window $WIDTH x $HEIGHT at $X,$Y"
grab installer $((X - pad)) $((Y - pad)) $((WIDTH + 2 * pad)) $((HEIGHT + 2 * pad))

# The close button sits in the top right corner of the skin.
xdotool mousemove $((X + WIDTH - 15)) $((Y + 15)); sleep 0.5
xdotool click 1
status=0
for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.2; done
if kill -0 $pid 2>/dev/null; then
  echo "demo: the installer did not close on its close button" >&2
  kill $pid
  exit 1
fi
wait $pid || status=$?
echo "demo: installer exited with code $status"
exit $status

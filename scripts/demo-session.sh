#!/usr/bin/env bash
# Runs inside an X display (see demo.sh).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
out="$KV_ROOT/out/screens"
mkdir -p "$out"
exe="$KV_BUILD/src/App/KorvelQixarInstaller.exe"
title="安装KorvelQixar"

wine "$exe" "${1:-}" &
pid=$!
win=""
for _ in $(seq 100); do
  win="$(xdotool search --name "$title" 2>/dev/null | head -1 || true)"
  [[ -n $win ]] && break
  sleep 0.2
done
[[ -n $win ]] || { echo "demo: the installer window did not appear" >&2; kill $pid; exit 1; }
sleep 1
import -window "$win" "$out/installer.png"
echo "demo: screenshot saved to $out/installer.png"
xdotool key --window "$win" Escape || true
status=0
wait $pid || status=$?
echo "demo: installer exited with code $status"
exit $status

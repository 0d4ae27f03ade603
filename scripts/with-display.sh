#!/usr/bin/env bash
# Runs a command with an X display: the caller's DISPLAY if set, otherwise a
# private Xvfb started here and stopped when the command ends (the command
# then sees KV_PRIVATE_DISPLAY=1: nobody is watching, scripts drive it).
# KV_XVFB_SCREEN sets the private display's size (default 1280x800).
set -euo pipefail
if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  exec "$@"
fi
for n in $(seq 90 140); do
  [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
  Xvfb ":$n" -screen 0 "${KV_XVFB_SCREEN:-1280x800}x24" -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n" KV_PRIVATE_DISPLAY=1
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  if xdpyinfo >/dev/null 2>&1; then
    trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
    status=0
    "$@" || status=$?
    exit $status
  fi
  kill $xvfb_pid 2>/dev/null || true
done
echo "no free X display for Xvfb" >&2
exit 1

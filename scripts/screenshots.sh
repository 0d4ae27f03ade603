#!/usr/bin/env bash
# Opens the skins in the demo program (tools/skin_demo) under Xvfb and saves
# screenshots of every page, of hover and pressed states, and of the keyboard
# focus mark on each page and in the message box as PNG files in
# out/screens/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$KV_ROOT/scripts/build.sh"
export KV_SCREEN_OUT="${KV_SCREEN_OUT:-$KV_ROOT/out/screens}"
mkdir -p "$KV_SCREEN_OUT"
"$KV_ROOT/scripts/with-display.sh" bash -c '
  set -euo pipefail
  source "$KV_ROOT/scripts/env.sh"
  exe="$KV_BUILD/tools/skin_demo.exe"
  source "$KV_ROOT/scripts/desktop-lib.sh"
  read -r sw sh < <(screen_size)
  # The demo centres its windows in the work area.
  wx=$(( (sw - 540) / 2 )); wy=$(( (sh - 355) / 2 ))
  pad=24
  desktop_start
  grab_main() { grab "$1" $((wx - pad)) $((wy - pad)) $((540 + 2 * pad)) $((355 + 2 * pad)); }
  start() {
    wine "$exe" "$@" >/dev/null 2>&1 &
    demo_pid=$!
    sleep 4
  }
  stop() {
    kill "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
    sleep 1
  }
  xdotool mousemove 5 5
  start main 0
  grab_main 01-welcome
  xdotool mousemove $((wx + 177 + 92)) $((wy + 237 + 22)); sleep 1
  grab_main 02-welcome-install-hover
  xdotool mousemove $((wx + 510 + 14)) $((wy + 14)); sleep 0.3
  xdotool mousemove $((wx + 510 + 15)) $((wy + 15)); sleep 1.5   # long enough for the tool tip
  grab_main 03-close-hover
  xdotool mousemove $((wx + 480 + 15)) $((wy + 15)); sleep 1
  grab_main 04-minimise-hover
  xdotool mousemove $((wx + 510 + 15)) $((wy + 15)); sleep 0.5
  xdotool click 1; sleep 2
  xdotool mousemove $((wx + 270)) $((wy + 200)); sleep 0.5
  grab_main 05-exit-box
  # Keyboard in the box: Tab twice focuses its OK button.
  xdotool key Tab; sleep 0.3; xdotool key Tab; sleep 0.7
  grab_main 05b-exit-box-focus
  stop
  xdotool mousemove 5 5
  start main 0
  # The install button held down (released away from it: no click).
  xdotool mousemove $((wx + 177 + 92)) $((wy + 237 + 22)); sleep 0.5
  xdotool mousedown 1; sleep 0.7
  grab_main 02b-welcome-install-pressed
  xdotool mousemove 5 5; sleep 0.3; xdotool mouseup 1; sleep 0.5
  # The agreement unticked by a click.
  xdotool mousemove $((wx + 13 + 8)) $((wy + 313 + 10 + 12)); xdotool click 1; sleep 0.3
  xdotool mousemove 5 5; sleep 0.7
  grab_main 02c-welcome-agreement-unticked
  stop
  xdotool mousemove 5 5
  # Keys go to the window under the pointer (no window manager): the
  # pointer rests on the hero image, where nothing reacts to it.
  rest() { xdotool mousemove $((wx + 60)) $((wy + 180)); sleep 0.3; }
  start main 0
  # Keyboard focus: Tab to the install button, then on to the agreement.
  rest; xdotool key Tab; sleep 0.7
  grab_main 10-welcome-focus-install
  xdotool key Tab; sleep 0.7
  grab_main 11-welcome-focus-agreement
  xdotool key Tab Tab Tab; sleep 0.7
  grab_main 12-welcome-focus-minimise
  stop
  xdotool mousemove 5 5
  start main 1
  grab_main 06-folder
  # Click into the folder box: a real edit window opens for typing.
  xdotool mousemove $((wx + 36 + 300)) $((wy + 245 + 35 + 14)); xdotool click 1; sleep 0.5
  xdotool key End; xdotool type --delay 60 "2"; sleep 0.5
  xdotool mousemove $((wx + 421 + 40)) $((wy + 245 + 35 + 14)); sleep 0.7
  grab_main 07-folder-typing
  # Keyboard: Tab leaves the box for the browse button.
  rest; xdotool key Tab; sleep 0.7
  grab_main 13-folder-focus-browse
  xdotool key Tab; sleep 0.7
  grab_main 14-folder-focus-install
  stop
  xdotool mousemove 5 5
  start main 2 62
  grab_main 08-progress
  rest; xdotool key Tab; sleep 0.7
  grab_main 15-progress-focus-minimise
  stop
  start msgbox
  bx=$(( (sw - 280) / 2 )); by=$(( (sh - 115) / 2 ))
  xdotool mousemove $((bx + 200)) $((by + 30 + 12 + 29 + 10 + 12)); sleep 1
  grab 09-message-box $((bx - pad)) $((by - pad)) $((280 + 2 * pad)) $((115 + 2 * pad))
  stop
'

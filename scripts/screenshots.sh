#!/usr/bin/env bash
# Opens the skins in the demo program (tools/skin_demo) under Xvfb and saves
# screenshots of every page, of hover and pressed states, and of the keyboard
# focus mark on each page and in the message box as PNG files in
# out/screens/ (at 100%) or out/screens-<percent>/.
# Usage: screenshots.sh [DPI]   (96 = 100% by default; 120, 144, 192 = 200%:
# the Wine prefix's display scale during the run, see with-display-scale.sh)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
dpi=${1:-96}
"$KV_ROOT/scripts/build.sh"
percent=$(( dpi * 100 / 96 ))
if (( dpi == 96 )); then out_default="$KV_ROOT/out/screens"; else out_default="$KV_ROOT/out/screens-$percent"; fi
export KV_SCREEN_OUT="${KV_SCREEN_OUT:-$out_default}"
mkdir -p "$KV_SCREEN_OUT"
# A 200% window (1080 x 710) and its shadow need more than 1280 x 800.
(( dpi > 144 )) && export KV_XVFB_SCREEN="${KV_XVFB_SCREEN:-1920x1200}"
"$KV_ROOT/scripts/with-display-scale.sh" "$dpi" "$KV_ROOT/scripts/with-display.sh" bash -c '
  set -euo pipefail
  source "$KV_ROOT/scripts/env.sh"
  exe="$KV_BUILD/tools/skin_demo.exe"
  source "$KV_ROOT/scripts/desktop-lib.sh"
  dpi=$KV_DISPLAY_DPI
  # A length of the markup (100%) at the display scale, rounded as the program does.
  s() { echo $(( ($1 * dpi + 48) / 96 )); }
  read -r sw sh < <(screen_size)
  # The demo centres its windows in the work area.
  ww=$(s 540); wh=$(s 355)
  wx=$(( (sw - ww) / 2 )); wy=$(( (sh - wh) / 2 ))
  pad=$(s 24)
  desktop_start
  grab_main() { grab "$1" $((wx - pad)) $((wy - pad)) $((ww + 2 * pad)) $((wh + 2 * pad)); }
  # at X Y: the pointer to window point X,Y of the markup.
  at() { xdotool mousemove $((wx + $(s "$1"))) $((wy + $(s "$2"))); }
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
  at $((177 + 92)) $((237 + 22)); sleep 1
  grab_main 02-welcome-install-hover
  at $((510 + 14)) 14; sleep 0.3
  at $((510 + 15)) 15; sleep 1.5   # long enough for the tool tip
  grab_main 03-close-hover
  at $((480 + 15)) 15; sleep 1
  grab_main 04-minimise-hover
  at $((510 + 15)) 15; sleep 0.5
  xdotool click 1; sleep 2
  at 270 200; sleep 0.5
  grab_main 05-exit-box
  # Keyboard in the box: Tab twice focuses its OK button.
  xdotool key Tab; sleep 0.3; xdotool key Tab; sleep 0.7
  grab_main 05b-exit-box-focus
  stop
  xdotool mousemove 5 5
  start main 0
  # The install button held down (released away from it: no click).
  at $((177 + 92)) $((237 + 22)); sleep 0.5
  xdotool mousedown 1; sleep 0.7
  grab_main 02b-welcome-install-pressed
  xdotool mousemove 5 5; sleep 0.3; xdotool mouseup 1; sleep 0.5
  # The agreement unticked by a click.
  at $((13 + 8)) $((313 + 10 + 12)); xdotool click 1; sleep 0.3
  xdotool mousemove 5 5; sleep 0.7
  grab_main 02c-welcome-agreement-unticked
  stop
  xdotool mousemove 5 5
  # Keys go to the window under the pointer (no window manager): the
  # pointer rests on the hero image, where nothing reacts to it.
  rest() { at 60 180; sleep 0.3; }
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
  at $((36 + 300)) $((245 + 35 + 14)); xdotool click 1; sleep 0.5
  xdotool key End; xdotool type --delay 60 "2"; sleep 0.5
  at $((421 + 40)) $((245 + 35 + 14)); sleep 0.7
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
  bw=$(s 280); bh=$(s 115)
  bx=$(( (sw - bw) / 2 )); by=$(( (sh - bh) / 2 ))
  xdotool mousemove $((bx + $(s 200))) $((by + $(s $((30 + 12 + 29 + 10 + 12))))); sleep 1
  grab 09-message-box $((bx - pad)) $((by - pad)) $((bw + 2 * pad)) $((bh + 2 * pad))
  stop
'

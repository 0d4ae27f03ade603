#!/usr/bin/env bash
# The README's screenshots: one real run of the installer against the local
# update server, under Xvfb with a light desktop, saving the welcome page,
# the folder page, the exit confirmation over it, and the progress page
# mid-download and while installing into docs/screens/ (small PNGs), and
# the notice of an unticked agreement (notice-box).
# Usage: readme-screenshots.sh [DPI] [LANGUAGE | dark | light]: at another
# display scale (144 = 150%) the pictures go to docs/screens/<percent>/; in
# another language (zh-TW, en: the run is given /LANG=) to
# docs/screens/<language>/; in high contrast (the system colours white on
# black or black on white, set by SetSysColors, and the installer's test
# switch KV_HIGH_CONTRAST, since Wine cannot turn the mode on) to
# docs/screens/contrast-<dark|light>/.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
dpi=${1:-96}
case ${2:-zh-CN} in
  dark|light) export KV_CONTRAST=$2 KV_LANG=zh-CN ;;
  *) export KV_CONTRAST="" KV_LANG=${2:-zh-CN} ;;
esac
"$KV_ROOT/scripts/build.sh"
out_default="$KV_ROOT/docs/screens"
[[ $KV_LANG == zh-CN ]] || out_default+="/$KV_LANG"
(( dpi == 96 )) || out_default+="/$((dpi * 100 / 96))"
[[ -z $KV_CONTRAST ]] || out_default+="/contrast-$KV_CONTRAST"
export KV_SCREENS_DIR="${KV_SCREENS_DIR:-$out_default}"
(( dpi > 144 )) && export KV_XVFB_SCREEN="${KV_XVFB_SCREEN:-1920x1200}"
# Always a private display: nothing of the user's desktop in the pictures.
env -u DISPLAY "$KV_ROOT/scripts/with-display-scale.sh" "$dpi" "$KV_ROOT/scripts/with-display.sh" bash -c '
  set -euo pipefail
  source "$KV_ROOT/scripts/env.sh"
  source "$KV_ROOT/scripts/desktop-lib.sh"
  source "$KV_ROOT/scripts/installer-driver.sh"
  work="$(mktemp -d)"
  E2E_SHOTS="$work/raw"; mkdir -p "$E2E_SHOTS" "$KV_SCREENS_DIR"
  prepare_run "$work"
  cleanup() { end_run; rm -rf "$work"; desktop_stop 2>/dev/null || true; }
  server_start --rate $(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 10 )) >/dev/null
  desktop_start
  trap cleanup EXIT
  xdotool mousemove 5 5
  if [[ -n $KV_CONTRAST ]]; then
    wine "$KV_BUILD/tools/kv_system_colors.exe" "$KV_CONTRAST"
    export KV_HIGH_CONTRAST=1
    # What tells a drawn window from a black one: the white frame of the
    # install button, or the white window.
    [[ $KV_CONTRAST == dark ]] && KV_PAINT_PROBE="177 259" || KV_PAINT_PROBE="100 100"
  fi
  start_installer 7
  grab_main welcome
  click_main "$XY_AGREE"; click_main "$XY_INSTALL"
  box="$(wait_window "^$BOX_TITLE\$" 20)"; xdotool mousemove 5 5; sleep 1
  grab_main notice-box
  click_at "$box" "$XY_BOX_OK_ALONE"; wait_until 10 no_window "^$BOX_TITLE\$"
  click_main "$XY_AGREE"; xdotool mousemove 5 5; sleep 1
  click_main "$XY_FREE"; xdotool mousemove 5 5; sleep 1
  grab_main folder
  click_main "$XY_CLOSE"
  box="$(wait_window "^$EXIT_TITLE\$" 20)"; xdotool mousemove 5 5; sleep 1
  grab_main message-box
  click_at "$box" "$XY_BOX_CANCEL"
  click_main "$XY_INSTALL2"; xdotool mousemove 5 5
  wait_log "CInstallController::OnProgress" 30 4
  grab_main progress-download
  wait_log "CInstallController::StartInstall" 60; sleep 4
  grab_main progress-installing
  wait_installer_exit 120
  for f in "$E2E_SHOTS"/*.png; do
    # 256 colours, no metadata: a few tens of kilobytes per picture.
    convert "$f" -strip +dither -colors 256 -define png:compression-level=9 "$KV_SCREENS_DIR/$(basename "$f")"
    echo "saved $KV_SCREENS_DIR/$(basename "$f") ($(stat -c %s "$KV_SCREENS_DIR/$(basename "$f")") bytes)"
  done
'

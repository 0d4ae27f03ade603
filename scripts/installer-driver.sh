# Driving the installer's real window from a shell inside an X display:
# window search, clicks at control positions taken from the skins' markup,
# the installer's log (KV_LOG_FILE) and screenshots. Sourced by the demo,
# the README screenshots, the benchmark and the end-to-end scenarios; source
# env.sh first. Callers set E2E_SHOTS (the screenshot folder).

source "$KV_ROOT/scripts/nginx-lib.sh"

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "[$(date +%T)] $*"; }

# wait_until SECONDS COMMAND...: runs COMMAND every tenth of a second until it
# succeeds; fails when SECONDS pass first. Every wait of the driver is one
# on a condition (the window, the log, a process), never a fixed pause.
wait_until() {
  local deadline=$(( ${EPOCHREALTIME//[!0-9]/} + $1 * 1000000 ))
  shift
  until "$@"; do
    (( ${EPOCHREALTIME//[!0-9]/} < deadline )) || return 1
    sleep 0.1
  done
}

# The language the run is shown in (/LANG='s value; Simplified Chinese by
# default) and the window titles it gives, from the skin's text table.
text_of() { sed -n "s|.*<T k=\"$1\">\(.*\)</T>.*|\1|p" "$KV_ROOT/Skin/Texts.$KV_LANG.xml"; }
use_language() {
  KV_LANG=$1
  MAIN_TITLE="$(text_of window.title)"
  BOX_TITLE="$(text_of box.caption)"
  EXIT_TITLE="$(text_of box.exit.title)"
}
use_language "${KV_LANG:-zh-CN}"

# Client co-ordinates of the controls, from "InstallPackages.xml": page 0's
# lower strip starts at 355 - 42 = 313, page 1's at 355 - 110 = 245.
XY_INSTALL="269 259"      # btn_install   pos 177,237 size 184x44
XY_AGREE="21 335"         # opt_agree     pos 13,313+10, tick box 16 wide
XY_FREE="486 335"         # btn_free      pos 448,313+16 size 77x13
XY_CLOSE="525 15"         # btn_close     pos 510,0 size 30x30
XY_EDIT="229 294"         # edit_input    pos 36,245+35 size 387x29
XY_INSTALL2="457 332"     # btn_install2  pos 407,245+73 size 100x28
# "MessageBox.xml" (280 x 115): the button row spans y 81..106; OK is the
# 60-pixel button left of the cancel area (hlt_btn_0, the right 70 pixels).
XY_BOX_OK_WITH_CANCEL="170 93"
XY_BOX_OK_ALONE="240 93"
XY_BOX_CANCEL="240 93"

# The markup's co-ordinates are at 100%; under scripts/with-display-scale.sh
# the windows are laid out at KV_DISPLAY_DPI, and so are the clicks.
DISPLAY_DPI=${KV_DISPLAY_DPI:-96}
scaled() { echo $(( ($1 * DISPLAY_DPI + 48) / 96 )); }

# winpath /linux/path -> Z:\linux\path (Wine maps / as Z:).
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# ------------------------------------------------------------------ set-up
KV_STANDIN_PACKAGE="$KV_BUILD/tools/kvinstaller-standin.exe"
KV_STANDIN_LAUNCHER="$KV_BUILD/tools/KorvelLauncher-standin.exe"

# prepare_run DIR: a clean run in DIR. DIR/d becomes drive D: of the Wine
# prefix, DIR/app holds a copy of the built installer (a folder of its own,
# with no package or marker beside it), DIR/srv is the update server's, and
# the launcher's earlier-installation ini is removed from the prefix. Sets
# INSTALLER_EXE, E2E_LOG, KV_LOG_FILE and SERVER_DIR.
prepare_run() {
  local dir=$1
  mkdir -p "$dir/d" "$dir/app" "$dir/srv"
  "$KV_ROOT/scripts/wine-prefix.sh" >/dev/null
  ln -sfn "$dir/d" "$WINEPREFIX/dosdevices/d:"
  rm -f "$WINEPREFIX/drive_c/ProgramData/KorvelLaucher.ini"
  # The package's staging folder, with any partial download of an earlier run.
  rm -rf "$WINEPREFIX/drive_c/ProgramData/KorvelQixarInstaller"
  # KV_E2E_INSTALLER runs the steps against another build (an older one, to compare).
  cp "${KV_E2E_INSTALLER:-$KV_BUILD/src/App/KorvelQixarInstaller.exe}" "$dir/app/KorvelQixarInstaller.exe"
  INSTALLER_EXE="$dir/app/KorvelQixarInstaller.exe"
  E2E_LOG="$dir/installer.log"
  export KV_LOG_FILE="$(winpath "$E2E_LOG")"
  SERVER_DIR="$dir/srv"
}
# end_run: stops what prepare_run and the run started.
end_run() {
  [[ -n ${INSTALLER_PID:-} ]] && kill "$INSTALLER_PID" 2>/dev/null || true
  server_stop || true
  rm -f "$WINEPREFIX/dosdevices/d:"
}

# ------------------------------------------------------------ update server
# server_start [--rate BYTES_PER_S] [--port PORT]: the project's nginx update
# server in $SERVER_DIR with the stand-in package; sets SERVER_URL,
# SERVER_PORT and SERVER_ROOT (its published folder) and points the
# installer at it.
server_start() {
  local out
  out="$("$KV_ROOT/scripts/update-server.sh" start --dir "$SERVER_DIR" --package "$KV_STANDIN_PACKAGE" "$@")" ||
    fail "update server did not start"
  SERVER_URL="$(echo "$out" | grep -o 'http://127\.0\.0\.1:[0-9]*' | head -1)"
  SERVER_PORT="${SERVER_URL##*:}"
  SERVER_ROOT="$SERVER_DIR/html"
  use_port "$SERVER_PORT"
  note "update server $SERVER_URL"
}
server_stop() { [[ -d ${SERVER_DIR:-} ]] && "$KV_ROOT/scripts/update-server.sh" stop --dir "$SERVER_DIR" >/dev/null 2>&1; }
# Requests the server has answered so far (nginx access log lines).
server_requests() { cat "$SERVER_DIR"/logs/access.log 2>/dev/null || true; }
# A free loopback port for a server that starts later.
free_port() { nginx_free_port; }
use_port() {
  export KV_DESCRIPTOR_URLS="http://127.0.0.1:$1/kvinstall.txt;http://localhost:$1/kvinstall.txt"
}

# ------------------------------------------------------------ the installer
# start_installer [args]: runs $INSTALLER_EXE from its folder and
# waits for its window to be drawn; sets INSTALLER_PID and WIN_X/WIN_Y. The
# window speaks KV_LANG (/LANG= is added: Wine's own UI language here is
# English) unless KV_SYSTEM_LANG=1 leaves the choice to the system.
start_installer() {
  : > "$E2E_LOG"
  local lang=("/LANG=$KV_LANG")
  [[ ${KV_SYSTEM_LANG:-0} == 1 ]] && lang=()
  (cd "$(dirname "$INSTALLER_EXE")" && exec wine "$INSTALLER_EXE" "$@" "${lang[@]}" >/dev/null 2>&1) &
  INSTALLER_PID=$!
  MAIN_WIN="$(wait_window "^$MAIN_TITLE\$" 60)" || fail "the installer window did not appear"
  eval "$(xdotool getwindowgeometry --shell "$MAIN_WIN")"
  WIN_X=$X WIN_Y=$Y
  [[ $WIDTH == $(scaled 540) && $HEIGHT == $(scaled 355) ]] ||
    fail "installer window is ${WIDTH}x$HEIGHT, not $(scaled 540)x$(scaled 355)"
  # The install button is never black, and a box centred over the window
  # (y 120 to 235) leaves it uncovered; KV_PAINT_PROBE names another place
  # (in high contrast's white on black the button's face is black).
  wait_painted "$MAIN_WIN" "${KV_PAINT_PROBE:-$XY_INSTALL}" 10 || fail "the installer window was never drawn"
}

installer_gone() { ! kill -0 "$INSTALLER_PID" 2>/dev/null; }
# wait_installer_exit SECONDS: the installer's exit code in EXIT_CODE.
wait_installer_exit() {
  wait_until "$1" installer_gone || fail "the installer is still running after ${1}s"
  EXIT_CODE=0
  wait "$INSTALLER_PID" || EXIT_CODE=$?
  INSTALLER_PID=""
  note "installer exited with code $EXIT_CODE"
}

# ------------------------------------------------------------- evidence
# visible_window REGEX: prints the id of the first visible window whose name matches.
visible_window() {
  local id
  id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)"
  [[ -n $id ]] && echo "$id"
}
# wait_window REGEX SECONDS: prints the id of the first visible window whose name matches.
wait_window() { wait_until "$2" visible_window "$1"; }
no_window() { ! xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# pixel_at WINDOW "X Y": the colour (#RRGGBB) at client co-ordinates (at 100%).
pixel_at() {
  local x y
  read -r x y <<<"$2"
  import -window "$1" -crop "1x1+$(scaled "$x")+$(scaled "$y")" -depth 8 txt:- 2>/dev/null |
    grep -o '#[0-9A-F]\{6\}' | head -1
}
# A window that Wine has mapped but not yet drawn is black; the skins have
# no black at the places asked for.
painted_at() { local c; c="$(pixel_at "$1" "$2")"; [[ -n $c && $c != "#000000" ]]; }
# wait_painted WINDOW "X Y" SECONDS: until the window is drawn at that place.
wait_painted() { wait_until "$3" painted_at "$1" "$2"; }

# click_at WINDOW_ID "X Y": a real mouse click at client co-ordinates (at
# 100%). The window gets the events in order; callers wait for the click's
# effect.
click_at() {
  local win=$1 x y
  read -r x y <<<"$2"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  x=$((X + $(scaled "$x"))) y=$((Y + $(scaled "$y")))
  # --sync waits for a pointer motion, which never comes (15 s) when the
  # pointer is there already, as for a second run's click at the same place.
  if [[ "$(xdotool getmouselocation)" == "x:$x y:$y "* ]]; then xdotool click 1
  else xdotool mousemove --sync "$x" "$y" click 1; fi
}
click_main() { click_at "$MAIN_WIN" "$1"; }

# answer_box TITLE_REGEX "X Y" [SHOT]: waits for a box to be drawn,
# screenshots it, clicks, and waits for it to go.
answer_box() {
  local box x y HEIGHT
  box="$(wait_window "$1" 30)" || fail "no box titled $1"
  # The box (115 high in its markup) grows with a long text; its buttons keep
  # their distance from its bottom.
  read -r x y <<<"$2"
  eval "$(xdotool getwindowgeometry --shell "$box")"
  y=$(( y + HEIGHT * 96 / DISPLAY_DPI - 115 ))
  wait_painted "$box" "$x $y" 10 || fail "box $1 was never drawn"
  [[ -n ${3:-} ]] && grab_window "$box" "$3"
  click_at "$box" "$x $y"
  wait_until 10 no_window "$1" || fail "box $1 stayed open"
}

# The installer's log as UTF-8 text.
log_text() { [[ -s $E2E_LOG ]] && iconv -f UTF-16LE -t UTF-8 "$E2E_LOG" | sed '1s/^\xEF\xBB\xBF//' | tr -d '\r' || true; }
log_count() { log_text | grep -cF -- "$1" || true; }
# Enough lines with TEXT, or no installer any more to write them.
log_reached() { (( $(log_count "$1") >= $2 )) || ! kill -0 "${INSTALLER_PID:-0}" 2>/dev/null; }
# wait_log TEXT SECONDS [COUNT]
wait_log() {
  local text=$1 limit=$2 count=${3:-1}
  wait_until "$limit" log_reached "$text" "$count" || true
  (( $(log_count "$text") >= count )) || fail "log never showed \"$text\" (x$count) within ${limit}s"
}

grab_window() {
  local win=$1 name=$2 pad
  pad=$(scaled 16)
  eval "$(xdotool getwindowgeometry --shell "$win")" || return 0
  import -window root -crop "$((WIDTH + 2 * pad))x$((HEIGHT + 2 * pad))+$((X - pad))+$((Y - pad))" +repage \
    "$E2E_SHOTS/$name.png" 2>/dev/null || true
}
grab_main() { grab_window "$MAIN_WIN" "$1"; }
grab_screen() { import -window root "$E2E_SHOTS/$1.png" 2>/dev/null || true; }

# The launcher's record of its starts, as UTF-8 lines.
launcher_calls() {
  local f=$1/launcher-calls.txt
  [[ -f $f ]] || return 0
  if head -c2 "$f" | grep -q $'\xff\xfe'; then iconv -f UTF-16LE -t UTF-8 "$f"; else cat "$f"; fi |
    sed '1s/^\xEF\xBB\xBF//' | tr -d '\r'
}

# --------------------------------------------------------- unattended runs
# prepare_run's folder also receives the log of unattended runs: LOG_ARG is
# the /LOG= switch naming it (UTF-8, every run appends to it).
unattended_log_setup() {
  UNATTENDED_LOG="$1/unattended.log"
  LOG_ARG="/LOG=$(winpath "$UNATTENDED_LOG")"
}
# start_unattended [args]: runs $INSTALLER_EXE with exactly these arguments
# (pass /S and "$LOG_ARG" yourself: an unquoted /D= must come last) in the
# background; sets INSTALLER_PID. No window is waited for.
start_unattended() {
  (cd "$(dirname "$INSTALLER_EXE")" && exec wine "$INSTALLER_EXE" "$@" >/dev/null 2>&1) &
  INSTALLER_PID=$!
}
# run_unattended SECONDS [args]: the same, to its end; the code in EXIT_CODE.
run_unattended() {
  local limit=$1; shift
  start_unattended "$@"
  wait_installer_exit "$limit"
}
# The unattended log without its byte-order mark.
unattended_log() { [[ -f $UNATTENDED_LOG ]] && sed '1s/^\xEF\xBB\xBF//' "$UNATTENDED_LOG" | tr -d '\r' || true; }
unattended_count() { unattended_log | grep -cF -- "$1" || true; }
unattended_logged() { (( $(unattended_count "$1") > 0 )); }
# wait_unattended_log TEXT SECONDS
wait_unattended_log() {
  wait_until "$2" unattended_logged "$1" || fail "the unattended log never showed \"$1\" within ${2}s"
}

# windows_watch_start FILE: every 0.2 s, appends the visible windows on the
# display (id and name) to FILE, until windows_watch_stop.
windows_watch_start() {
  local file=$1
  : >"$file"
  (while :; do
     for id in $(xdotool search --onlyvisible '.' 2>/dev/null); do
       echo "$id $(xdotool getwindowname "$id" 2>/dev/null)"
     done >>"$file"
     sleep 0.2
   done) &
  WATCH_PID=$!
}
windows_watch_stop() { [[ -n ${WATCH_PID:-} ]] && kill "$WATCH_PID" 2>/dev/null; wait "$WATCH_PID" 2>/dev/null || true; WATCH_PID=""; }

# Functions for scripts that show windows on an Xvfb display and take
# screenshots of them. Source inside a display (see with-display.sh).
#   desktop_start        light desktop + compositing manager, so layered
#                        shadow windows blend as they do on Windows
#   grab NAME X Y W H    saves a screen region to $KV_SCREEN_OUT/NAME.png
#   screen_size          prints "width height"

screen_size() { xdpyinfo | awk '/dimensions:/{split($2,a,"x"); print a[1], a[2]}'; }

desktop_start() {
  local sw sh
  read -r sw sh < <(screen_size)
  _kv_desktop_png="$(mktemp --suffix=.png)"
  convert -size "${sw}x${sh}" gradient:"#e3e9f0"-"#b9c5d2" "$_kv_desktop_png"
  display -geometry +0+0 "$_kv_desktop_png" & _kv_desk_pid=$!
  sleep 1.5
  xcompmgr -n 2>/dev/null & _kv_comp_pid=$!
  trap desktop_stop EXIT
  sleep 1
}

desktop_stop() {
  kill "${_kv_comp_pid:-}" "${_kv_desk_pid:-}" 2>/dev/null || true
  rm -f "${_kv_desktop_png:-}"
}

grab() {
  mkdir -p "$KV_SCREEN_OUT"
  import -window root -crop "$4x$5+$2+$3" +repage "$KV_SCREEN_OUT/$1.png"
  echo "saved $KV_SCREEN_OUT/$1.png"
}

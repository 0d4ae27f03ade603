# Proxies of the end-to-end scenarios, all on loopback: tinyproxy (with a
# login or without), a socket that accepts and never answers, and the
# user's connection settings as Windows stores them. Sourced by scenarios.sh.

# proxy_start NAME [LINE]: a tinyproxy with LINE added to its configuration;
# its port in PROXY_PORT_<NAME>, its log in $E2E_DIR/NAME.log.
proxy_start() {
  local name=$1 port; port="$(free_port)"
  printf 'Port %s\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 60\nLogLevel Info\nLogFile "%s"\n%s\n' \
    "$port" "$E2E_DIR/$name.log" "${2:-}" >"$E2E_DIR/$name.conf"
  tinyproxy -d -c "$E2E_DIR/$name.conf" >/dev/null 2>&1 &
  E2E_PIDS+=("$!")
  printf -v "PROXY_PORT_$name" %s "$port"
  wait_until 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null || fail "tinyproxy $name did not start"
}
proxy_requests() { grep -cF -- "$2" "$E2E_DIR/$1.log" 2>/dev/null || true; }

# A listening socket that is never read: connections open, nothing is answered. Port in SILENT_PORT.
silent_start() {
  SILENT_PORT="$(free_port)"
  python3 -c 'import socket,sys,time; s=socket.socket(); s.bind(("127.0.0.1",int(sys.argv[1]))); s.listen(8); time.sleep(600)' \
    "$SILENT_PORT" &
  E2E_PIDS+=("$!")
  wait_until 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$SILENT_PORT" 2>/dev/null || fail "the silent socket did not open"
}

# user_proxy_settings FLAGS PROXY SCRIPT: the current user's connection
# settings (flags: 1 direct, 2 manual proxy, 4 script, 8 automatic detection).
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
counted() { le32 "${#1}"; printf %s "$1" | od -An -tx1 | tr -d ' \n'; }
USER_PROXY_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections'
user_proxy_settings() {
  local blob; blob="$(le32 70)$(le32 1)$(le32 "$1")$(counted "$2")$(counted "")$(counted "$3")$(printf '0%.0s' {1..64})"
  wine reg add "$USER_PROXY_KEY" /v DefaultConnectionSettings /t REG_BINARY /d "$blob" /f >/dev/null 2>&1 ||
    fail "the user's proxy settings were not written"
}
user_proxy_clear() { wine reg delete "$USER_PROXY_KEY" /v DefaultConnectionSettings /f >/dev/null 2>&1 || true; }

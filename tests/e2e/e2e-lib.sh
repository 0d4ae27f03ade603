# Shared steps of the end-to-end scenarios: a Wine prefix of their own with
# drive D: mapped to the scenario's folder, the real update server on
# loopback, the installer in a real window driven by xdotool, and checks on
# files, processes and the installer's log. Source it inside an X display.
set -euo pipefail
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/env.sh"
source "$KV_ROOT/scripts/installer-driver.sh"

# One prefix for every scenario (creating one takes long); each scenario
# points D: at its own folder and removes what an earlier one left in C:.
export KV_WINEPREFIX="${KV_E2E_WINEPREFIX:-${KV_WINEPREFIX:-$KV_CACHE/wineprefix}-e2e}"
export WINEPREFIX="$KV_WINEPREFIX"
KV_INSTALLER="$KV_BUILD/src/App/KorvelQixarInstaller.exe"
KV_STANDIN_PACKAGE="$KV_BUILD/tools/kvinstaller-standin.exe"
KV_STANDIN_LAUNCHER="$KV_BUILD/tools/KorvelLauncher-standin.exe"
# ------------------------------------------------------------------ set-up
e2e_setup() {
  local name=$1
  E2E_NAME=$name
  E2E_DIR="$(mktemp -d "/tmp/kv-e2e-$name-XXXX")"
  E2E_SHOTS="$KV_BUILD/e2e-screens/$name"
  rm -rf "$E2E_SHOTS"; mkdir -p "$E2E_SHOTS" "$E2E_DIR/d" "$E2E_DIR/app" "$E2E_DIR/srv"
  "$KV_ROOT/scripts/wine-prefix.sh" >/dev/null
  ln -sfn "$E2E_DIR/d" "$WINEPREFIX/dosdevices/d:"
  # Earlier-installation traces of another scenario.
  rm -f "$WINEPREFIX/drive_c/ProgramData/KorvelLaucher.ini"
  cp "$KV_INSTALLER" "$E2E_DIR/app/"
  INSTALLER_EXE="$E2E_DIR/app/KorvelQixarInstaller.exe"
  E2E_LOG="$E2E_DIR/installer.log"
  export KV_LOG_FILE="$(winpath "$E2E_LOG")"
  E2E_PIDS=()
  trap e2e_teardown EXIT
  note "scenario $name in $E2E_DIR (D: mapped)"
}

e2e_teardown() {
  local status=$?
  [[ -n ${INSTALLER_PID:-} ]] && kill "$INSTALLER_PID" 2>/dev/null || true
  server_stop || true
  # Launchers a scenario left running, and anything else in this prefix.
  wineserver -k 2>/dev/null || true
  if ((status != 0)); then
    echo "--- installer log ($E2E_LOG)"; log_text | tail -40
    grab_screen "failure" || true
  fi
  rm -f "$WINEPREFIX/dosdevices/d:"
  [[ -n ${E2E_KEEP:-} ]] || rm -rf "$E2E_DIR"
  exit $status
}

# ------------------------------------------------------------ update server
# server_start [--rate BYTES_PER_S] [--port PORT]: the project's nginx update
# server with the stand-in package; sets SERVER_PORT and SERVER_ROOT.
server_start() {
  local out
  out="$("$KV_ROOT/scripts/update-server.sh" start --dir "$E2E_DIR/srv" --package "$KV_STANDIN_PACKAGE" "$@")" ||
    fail "update server did not start"
  SERVER_URL="$(echo "$out" | grep -o 'http://127\.0\.0\.1:[0-9]*' | head -1)"
  SERVER_PORT="${SERVER_URL##*:}"
  SERVER_ROOT="$E2E_DIR/srv/html"
  note "update server $SERVER_URL"
}
server_stop() { [[ -d $E2E_DIR/srv ]] && "$KV_ROOT/scripts/update-server.sh" stop --dir "$E2E_DIR/srv" >/dev/null 2>&1; }
# Requests the server has answered so far (nginx access log lines).
server_requests() { cat "$E2E_DIR"/srv/logs/access.log 2>/dev/null || true; }
# A free loopback port for a server that starts later.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'; }
use_port() {
  export KV_DESCRIPTOR_URLS="http://127.0.0.1:$1/kvinstall.txt;http://localhost:$1/kvinstall.txt"
}

# ---------------------------------------------------------------- checks
expect_file() { [[ -e $1 ]] || fail "missing $1"; }
expect_no_file() { [[ ! -e $1 ]] || fail "unexpected $1"; }
expect_eq() { [[ $1 == "$2" ]] || fail "$3: got '$1', expected '$2'"; }

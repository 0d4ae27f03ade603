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
# No window manager runs on the test display: in this prefix the installer's
# windows are unmanaged (scripts/wine-prefix.sh), so Wine does not wait for one.
export KV_WINE_UNMANAGED=KorvelQixarInstaller.exe
# Waits that only slow the scenarios, shortened (test builds): a 1 s retry
# cycle (the product's 5 s) and a 10 ms install-animation tick (100 ms).
export KV_RETRY_CYCLE_MS=1000 KV_INSTALL_ANIM_MS=10
# ------------------------------------------------------------------ set-up
e2e_setup() {
  local name=$1
  E2E_NAME=$name
  E2E_DIR="$(mktemp -d "/tmp/kv-e2e-$name-XXXX")"
  E2E_SHOTS="$KV_BUILD/e2e-screens/$name"
  rm -rf "$E2E_SHOTS"; mkdir -p "$E2E_SHOTS"
  prepare_run "$E2E_DIR"
  trap e2e_teardown EXIT
  note "scenario $name in $E2E_DIR (D: mapped)"
}

E2E_PIDS=()  # helper servers a scenario started
e2e_teardown() {
  local status=$?
  end_run
  ((${#E2E_PIDS[@]} == 0)) || kill "${E2E_PIDS[@]}" 2>/dev/null || true
  user_proxy_clear
  # Launchers a scenario left running, and anything else in this prefix.
  wineserver -k 2>/dev/null || true
  if ((status != 0)); then
    echo "--- installer log ($E2E_LOG)"; log_text | tail -40
    grab_screen "failure" || true
  fi
  [[ -n ${E2E_KEEP:-} ]] || rm -rf "$E2E_DIR"
  exit $status
}

# ---------------------------------------------------------------- checks
expect_file() { [[ -e $1 ]] || fail "missing $1"; }
expect_no_file() { [[ ! -e $1 ]] || fail "unexpected $1"; }
expect_eq() { [[ $1 == "$2" ]] || fail "$3: got '$1', expected '$2'"; }

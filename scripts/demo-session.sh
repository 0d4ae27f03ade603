#!/usr/bin/env bash
# Runs inside an X display (see demo.sh). Drive D: of the Wine prefix is
# mapped to out/demo/d, so the installation lands there.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
source "$KV_ROOT/scripts/desktop-lib.sh"
source "$KV_ROOT/scripts/installer-driver.sh"
source_id="${1:-7}"
export KV_SCREEN_OUT="${KV_SCREEN_OUT:-$KV_ROOT/out/screens}"
E2E_SHOTS="$KV_SCREEN_OUT"
demo="$KV_ROOT/out/demo"
rm -rf "$demo"; mkdir -p "$E2E_SHOTS"
prepare_run "$demo"
cleanup() { end_run; desktop_stop 2>/dev/null || true; }
trap cleanup EXIT
rate=$(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 8 ))   # about eight seconds of download
server_start --rate "$rate" ${KV_DEMO_SIGN_KEY:+--sign "$KV_DEMO_SIGN_KEY"} >/dev/null
echo "demo: update server $SERVER_URL (package $(stat -c %s "$KV_STANDIN_PACKAGE") bytes at $rate bytes/s${KV_DEMO_SIGN_KEY:+, descriptor signed})"

if [[ -n ${KV_PRIVATE_DISPLAY:-} ]]; then
  desktop_start
  trap cleanup EXIT
  start_installer "$source_id"
  grab_main 1-welcome
  echo "demo: clicking 立即安装"
  click_main "$XY_INSTALL"
  wait_log "CInstallController::OnProgress" 30 3
  grab_main 2-downloading
  wait_log "CInstallController::StartInstall" 60
  sleep 1.5
  grab_main 3-installing
  wait_installer_exit 120
else
  echo "demo: the installer is open on your display: click 立即安装 (or choose a folder on D:)."
  start_installer "$source_id"
  wait_installer_exit 900
fi

# The log line reads "CInstallJob::LaunchAndFinish <launcher path> [<arguments>]".
launcher_win="$(log_text | grep -F 'CInstallJob::LaunchAndFinish ' | tail -1 |
  sed 's/^.*CInstallJob::LaunchAndFinish \(.*KorvelLauncher\.exe\) \[.*$/\1/')"
if [[ -n $launcher_win ]]; then
  rel="${launcher_win#D:\\}"; rel="${rel//\\//}"
  launcher_linux="$demo/d/$rel"
  echo "demo: launcher installed at $launcher_win"
  echo "demo:   (on this machine: $launcher_linux)"
  for _ in $(seq 25); do [[ -s $(dirname "$launcher_linux")/launcher-calls.txt ]] && break; sleep 0.2; done
  echo "demo: launcher started with: $(launcher_calls "$(dirname "$launcher_linux")" | tail -1)"
else
  echo "demo: no launcher was installed (the installer was closed before the end)"
fi
if [[ -n ${KV_DEMO_SIGN_KEY:-} ]]; then
  echo "demo: signature requests answered: $(server_requests | grep -c 'GET /kvinstall.txt.sig HTTP/1.1" 200' || true)"
fi
echo "demo: installer exit code $EXIT_CODE"
exit "$EXIT_CODE"

#!/usr/bin/env bash
# End-to-end scenarios of the installer: scenarios.sh NAME runs one of them
# in a real window (inside an X display), against the project's nginx update
# server on loopback, with the stand-in package and launcher. Each scenario
# checks files, processes, the installer's log and its exit code;
# screenshots of the pages it passes go to $KV_BUILD/e2e-screens/NAME/.
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"

DEFAULT_DIR_WIN='D:\Korvel网络\KorvelQixar'
default_dir() { echo "$E2E_DIR/d/Korvel网络/KorvelQixar"; }
# Bytes per second for the package download: a few seconds for the stand-in.
slow_rate() { echo $(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 4 )); }

# The launcher writes its record when it starts, which may be just after the
# installer has gone.
wait_launcher_calls() {
  local dir=$1 lines=${2:-1}
  for _ in $(seq 50); do
    (( $(launcher_calls "$dir" | wc -l) >= lines )) && return 0
    sleep 0.2
  done
  fail "the launcher in $dir was not started ($lines start(s) expected)"
}

# The launcher's starts with the program's own path unquoted: the desktop
# shell, which starts it, quotes that path whether it holds a blank or not.
launcher_starts() { launcher_calls "$1" | sed -E 's/^"([^" ]*)"/\1/'; }

expect_installed() {
  local dir=$1
  expect_file "$dir/KorvelLauncher.exe"
  expect_no_file "$dir/kvinstaller.exe"
  expect_no_file "$dir/kvinstall.ini"
  compgen -G "$dir/*.tmp" >/dev/null && fail "a temporary download file was left in $dir"
  return 0
}

type_folder() {
  click_main "$XY_EDIT"
  xdotool key --clearmodifiers ctrl+a; sleep 0.2
  xdotool type --delay 40 "$1"; sleep 0.5
}

# A fresh install with source number 7 into the default folder on D:.
scenario_fresh() {
  server_start --rate "$(slow_rate)"
  start_installer 7
  grab_main 01-welcome
  click_main "$XY_INSTALL"
  wait_log "CMainDlg::SelectPage 2" 10
  wait_log "CMainDlg::OnProgress" 30
  sleep 1
  grab_main 02-progress
  wait_log "CMainDlg::StartInstall" 60
  grab_main 03-installing
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code"
  local dir; dir="$(default_dir)"
  expect_installed "$dir"
  wait_launcher_calls "$dir"
  expect_eq "$(launcher_starts "$dir")" "$DEFAULT_DIR_WIN\\KorvelLauncher.exe -i \"7\" -d" "launcher command line"
  expect_eq "$(log_count 'KorvelLauncher.exe [-i "7" -d]: started')" 1 "launcher starts through the desktop shell"
  (( $(log_count "安装失败") == 0 )) || fail "a failure notice was shown"
}

# The folder page: a folder with "/" is refused and nothing starts; a typed
# folder with a blank shows its free space and installs there, its paths
# quoted on both command lines.
scenario_custom() {
  server_start --rate "$(slow_rate)"
  start_installer 7
  click_main "$XY_FREE"
  wait_log "CMainDlg::SelectPage 1" 10
  wait_log "CMainDlg::UpdateFreeSpace $DEFAULT_DIR_WIN: " 10
  grab_main 01-folder
  type_folder "D:/Games/KorvelQixar"
  click_main "$XY_INSTALL2"
  answer_box "^$BOX_TITLE\$" "$XY_BOX_OK_ALONE" 02-invalid-folder
  (( $(log_count "您选择的安装路径无效，请重新选择。") == 1 )) || fail "no invalid-folder message"
  (( $(log_count "CMainDlg::SelectPage 2") == 0 )) || fail "the progress page was shown for an invalid folder"
  expect_no_file "$E2E_DIR/d/Games"
  [[ -z "$(server_requests)" ]] || fail "the server was asked for something"

  type_folder 'D:\My Games\KorvelQixar'
  wait_log 'CMainDlg::UpdateFreeSpace D:\My Games\KorvelQixar: ' 10
  log_text | grep -F 'UpdateFreeSpace D:\My Games\KorvelQixar: ' | tail -1 | grep -Eq ': [0-9.]+(GB|TB)$' ||
    fail "free space of D: not shown as enough: $(log_text | grep -F UpdateFreeSpace | tail -1)"
  grab_main 03-folder-typed
  click_main "$XY_INSTALL2"
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code"
  local dir="$E2E_DIR/d/My Games/KorvelQixar"
  expect_installed "$dir"
  log_text | grep -qF 'CInstallJob::RunPackage "D:\My Games\KorvelQixar\kvinstaller.exe" /S "/unpack=D:\My Games\KorvelQixar" /launch=off' ||
    fail "package command line: $(log_text | grep -F RunPackage)"
  wait_launcher_calls "$dir"
  expect_eq "$(launcher_calls "$dir")" '"D:\My Games\KorvelQixar\KorvelLauncher.exe" -i "7" -d' "launcher command line"
  expect_no_file "$(default_dir)"
}

# Unticked agreement: both ways on refuse with the message; nothing starts;
# the exit confirmation ends the installer.
scenario_agreement() {
  use_port "$(free_port)"
  start_installer
  click_main "$XY_AGREE"
  grab_main 01-unticked
  click_main "$XY_INSTALL"
  answer_box "^$BOX_TITLE\$" "$XY_BOX_OK_ALONE" 02-agreement-box
  click_main "$XY_FREE"
  answer_box "^$BOX_TITLE\$" "$XY_BOX_OK_ALONE"
  expect_eq "$(log_count "未勾选“同意软件许可协议”。")" 2 "agreement messages"
  expect_eq "$(log_count "CMainDlg::SelectPage")" 0 "page changes"
  click_main "$XY_CLOSE"
  answer_box "^$EXIT_TITLE\$" "$XY_BOX_OK_WITH_CANCEL" 03-exit-box
  wait_installer_exit 20
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_no_file "$E2E_DIR/d/Korvel网络"
}

# A descriptor whose Md5 does not match: the corrupt-package box; "重新下载"
# after the server is corrected succeeds; in a second run "退出安装" quits.
scenario_md5() {
  server_start
  local good; good="$(grep -i '^Md5=' "$SERVER_ROOT/kvinstall.txt" | tr -d '\r' | cut -d= -f2)"
  [[ ${#good} == 32 ]] || fail "no Md5 in the served descriptor"
  sed -i 's/^Md5=.*/Md5=0123456789abcdef0123456789abcdef\r/I' "$SERVER_ROOT/kvinstall.txt"
  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "文件已损坏，请重新下载！" 60
  sed -i "s/^Md5=.*/Md5=${good^^}\r/I" "$SERVER_ROOT/kvinstall.txt"   # upper case still matches
  answer_box "^$BOX_TITLE\$" "$XY_BOX_OK_WITH_CANCEL" 01-corrupt-box
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code after 重新下载"
  expect_eq "$(log_count "CMainDlg::OnDescriptor (0,0)")" 2 "descriptor fetches"
  expect_installed "$(default_dir)"
  wait_launcher_calls "$(default_dir)"

  rm -rf "$(default_dir)"
  sed -i 's/^Md5=.*/Md5=0123456789abcdef0123456789abcdef\r/I' "$SERVER_ROOT/kvinstall.txt"
  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "文件已损坏，请重新下载！" 60
  answer_box "^$BOX_TITLE\$" "$XY_BOX_CANCEL"
  wait_installer_exit 20
  expect_eq "$EXIT_CODE" 0 "exit code after 退出安装"
  expect_no_file "$(default_dir)/KorvelLauncher.exe"
}

# Update server down at first: one notice, silent retries every five
# seconds, then success once it is up, resuming the partial download.
scenario_retry() {
  local port dir version; port="$(free_port)"; dir="$(default_dir)"
  # Learn the descriptor's Version, then leave a partial download behind as
  # an interrupted earlier run would.
  server_start --port "$port"
  version="$(grep -i '^Version=' "$SERVER_ROOT/kvinstall.txt" | tr -d '\r' | cut -d= -f2)"
  server_stop
  mkdir -p "$dir"
  head -c $(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 2 )) "$KV_STANDIN_PACKAGE" >"$dir/kvinstaller_$version.tmp"
  use_port "$port"
  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "安装失败，请检查网络后重试" 30
  grab_screen 01-failure-notice
  wait_log "CMainDlg::OnRetryTimer" 15 2
  expect_eq "$(log_count "CMsgBoxDlg::InitWindow [提示信息] 安装失败")" 1 "failure notices"
  server_start --port "$port"
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_installed "$dir"
  server_requests | grep -q '" 206 ' || fail "the partial file was not resumed: $(server_requests)"
  expect_eq "$(log_count "CMsgBoxDlg::InitWindow [提示信息] 安装失败")" 1 "failure notices"
}

# An earlier installation recorded in the launcher's ini: "直接启动" starts
# it; "覆盖安装" goes to the folder page, and the install stops the running
# launcher in that folder, not one in a sibling folder with the same prefix.
scenario_earlier() {
  local old="$E2E_DIR/d/Old/KorvelQixar" sib="$E2E_DIR/d/Old/KorvelQixar2"
  mkdir -p "$old/bin" "$sib" "$WINEPREFIX/drive_c/ProgramData"
  cp "$KV_STANDIN_LAUNCHER" "$old/KorvelLauncher.exe"
  cp "$KV_STANDIN_LAUNCHER" "$sib/KorvelLauncher.exe"
  echo x >"$old/bin/core.dll"; echo x >"$old/uninst.exe"
  printf '[KorvelSite-Launcher]\r\nInstallPath=D:\\Old\\KorvelQixar\\KorvelLauncher.exe\r\n' \
    >"$WINEPREFIX/drive_c/ProgramData/KorvelLaucher.ini"
  use_port "$(free_port)"

  start_installer
  answer_box "^$BOX_TITLE\$" "$XY_BOX_CANCEL" 01-earlier-question
  wait_installer_exit 20
  expect_eq "$EXIT_CODE" 0 "exit code after 直接启动"
  wait_launcher_calls "$old"
  expect_eq "$(launcher_starts "$old")" 'D:\Old\KorvelQixar\KorvelLauncher.exe -i "0" -d' "old launcher's command line"
  expect_eq "$(log_count "CMainDlg::SelectPage")" 0 "page changes"

  server_start --rate "$(slow_rate)"
  touch "$old/stay" "$sib/stay"
  wine 'D:\Old\KorvelQixar\KorvelLauncher.exe' >/dev/null 2>&1 & local old_pid=$!
  wine 'D:\Old\KorvelQixar2\KorvelLauncher.exe' >/dev/null 2>&1 & local sib_pid=$!
  wait_launcher_calls "$old" 2
  wait_launcher_calls "$sib" 1
  kill -0 $old_pid && kill -0 $sib_pid || fail "the stand-in launchers did not stay running"

  start_installer 7
  answer_box "^$BOX_TITLE\$" "$XY_BOX_OK_WITH_CANCEL"
  wait_log "CMainDlg::SelectPage 1" 10
  wait_log 'CMainDlg::UpdateFreeSpace D:\Old\KorvelQixar: ' 10
  grab_main 02-folder-of-earlier
  click_main "$XY_INSTALL2"
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code after 覆盖安装"
  for _ in $(seq 25); do kill -0 $old_pid 2>/dev/null || break; sleep 0.2; done
  kill -0 $old_pid 2>/dev/null && fail "the running launcher in the installation folder was not stopped"
  kill -0 $sib_pid 2>/dev/null || fail "the launcher in the sibling folder was stopped"
  expect_no_file "$old/bin"
  expect_no_file "$old/uninst.exe"
  expect_installed "$old"
  wait_launcher_calls "$old" 3
  expect_eq "$(launcher_starts "$old" | tail -1)" 'D:\Old\KorvelQixar\KorvelLauncher.exe -i "7" -d' "new launcher's command line"
}

# A package and "kvmain.dll" beside the installer: no download, the bar runs
# from 0 to 100, the package stays.
scenario_localpkg() {
  cp "$KV_STANDIN_PACKAGE" "$E2E_DIR/app/kvinstaller.exe"
  echo x >"$E2E_DIR/app/kvmain.dll"
  echo x >"$E2E_DIR/app/kvinstall.ini"
  use_port "$(free_port)"
  start_installer
  click_main "$XY_INSTALL"
  wait_log "CMainDlg::StartInstall" 10
  sleep 2
  grab_main 01-installing-local
  wait_installer_exit 60
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_eq "$(log_count "CMainDlg::OnDescriptor")" 0 "descriptor fetches"
  expect_eq "$(log_count "CMainDlg::OnDone (0,0)")" 1 "done reports"
  expect_file "$E2E_DIR/app/kvinstaller.exe"
  expect_no_file "$E2E_DIR/app/kvinstall.ini"
  expect_file "$(default_dir)/KorvelLauncher.exe"
  wait_launcher_calls "$(default_dir)"
  # No source number: no arguments (the system puts the program path itself
  # in front of an empty command line).
  local calls; calls="$(launcher_calls "$(default_dir)")"
  [[ $calls != *-i* && $calls == *KorvelLauncher.exe* ]] || fail "launcher command line without a source number: $calls"
}

# The exit confirmation and Escape during the download end the installer at
# once and leave the partial temporary file, which the next run resumes.
scenario_exit() {
  server_start --rate "$(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 30 ))"
  local dir; dir="$(default_dir)"
  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "CMainDlg::OnProgress" 30 2
  click_main "$XY_CLOSE"
  answer_box "^$EXIT_TITLE\$" "$XY_BOX_OK_WITH_CANCEL" 01-exit-during-download
  wait_installer_exit 15
  expect_eq "$EXIT_CODE" 0 "exit code after the confirmed exit"
  local tmp; tmp="$(compgen -G "$dir/*.tmp" | head -1)"
  [[ -s $tmp ]] || fail "no partial download left after the exit"
  local size1; size1="$(stat -c %s "$tmp")"

  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "CMainDlg::OnProgress" 30 2
  xdotool key Escape
  wait_installer_exit 15
  expect_eq "$EXIT_CODE" 0 "exit code after Escape"
  (( $(stat -c %s "$tmp") > size1 )) || fail "the second run did not add to the partial download"
  expect_no_file "$dir/KorvelLauncher.exe"

  server_stop
  server_start --port "$SERVER_PORT"
  start_installer 7
  click_main "$XY_INSTALL"
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code of the resuming run"
  expect_installed "$dir"
  server_requests | grep -q '" 206 ' || fail "the partial file was not resumed"
}

name=${1:?usage: scenarios.sh NAME}
declare -F "scenario_$name" >/dev/null || fail "no scenario $name"
e2e_setup "$name"
"scenario_$name"
note "scenario $name passed"

#!/usr/bin/env bash
# End-to-end scenarios of the installer: scenarios.sh NAME runs one of them
# in a real window (inside an X display), against the project's nginx update
# server on loopback, with the stand-in package and launcher. Each scenario
# checks files, processes, the installer's log and its exit code;
# screenshots of the pages it passes go to $KV_BUILD/e2e-screens/NAME/.
source "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/a11y-lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/proxy-lib.sh"

DEFAULT_DIR_WIN='D:\Korvel网络\KorvelQixar'
default_dir() { echo "$E2E_DIR/d/Korvel网络/KorvelQixar"; }
STAGING_WIN='C:\ProgramData\KorvelQixarInstaller'
staging_dir() { echo "$WINEPREFIX/drive_c/ProgramData/KorvelQixarInstaller"; }
# Bytes per second for the package download: a few seconds for the stand-in.
slow_rate() { echo $(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 4 )); }

# A value of the served descriptor.
descriptor_value() { grep -i "^$1=" "$SERVER_ROOT/kvinstall.txt" | tr -d '\r' | cut -d= -f2; }
# partial_download: the package's first half where an interrupted run
# leaves it, named after the served Version; its path in PARTIAL.
partial_download() {
  mkdir -p "$(staging_dir)"
  PARTIAL="$(staging_dir)/kvinstaller_$(descriptor_value Version).tmp"
  head -c $(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 2 )) "$KV_STANDIN_PACKAGE" >"$PARTIAL"
}
# An earlier installation in D:\Old\KorvelQixar ($OLD), as the launcher's ini records it.
earlier_install() {
  OLD="$E2E_DIR/d/Old/KorvelQixar"
  mkdir -p "$OLD/bin" "$WINEPREFIX/drive_c/ProgramData"
  cp "$KV_STANDIN_LAUNCHER" "$OLD/KorvelLauncher.exe"
  echo x >"$OLD/bin/core.dll"
  printf '[KorvelSite-Launcher]\r\nInstallPath=D:\\Old\\KorvelQixar\\KorvelLauncher.exe\r\n' \
    >"$WINEPREFIX/drive_c/ProgramData/KorvelLaucher.ini"
}

# The launcher writes its record when it starts, which may be just after the
# installer has gone.
launcher_started() { (( $(launcher_calls "$1" | wc -l) >= $2 )); }
wait_launcher_calls() {
  local dir=$1 lines=${2:-1}
  wait_until 10 launcher_started "$dir" "$lines" || fail "the launcher in $dir was not started ($lines start(s) expected)"
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
  compgen -G "$(staging_dir)/kv*" >/dev/null && fail "package files were left: $(ls "$(staging_dir)")"
  return 0
}

# The click opens the native box; keys sent before it has the focus would
# go to the window. Each typed key refreshes the free space in the log.
type_folder() {
  click_main "$XY_EDIT"
  wait_until 10 acc_focus_is "$MAIN_CLASS" "$MAIN_TITLE" 安装目录 || fail "the folder box did not take the focus"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 40 "$1"
  wait_log "CMainDlg::UpdateFreeSpace $1: " 10
}

# A fresh install with source number 7 into the default folder on D:, with
# DLLs saved beside the installer under the names of system DLLs it uses (as
# a web page can save them into Downloads). They are never loaded, even with
# Wine told to prefer a copy beside the program, as Windows does for every
# DLL outside KnownDLLs; the install runs through, so each of them is called.
# A "kvmain.dll" saved there too never brings the download beside them.
scenario_fresh() {
  local app dll planted=(winmm winhttp bcrypt crypt32 secur32 comctl32 oleacc); app="$(dirname "$INSTALLER_EXE")"
  for dll in "${planted[@]}" kvmain; do cp "$KV_BUILD/tests/e2e/planted.dll" "$app/$dll.dll"; done
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$(IFS=,; echo "${planted[*]}")=n,b"
  server_start --rate "$(slow_rate)"
  start_installer 7
  grab_main 01-welcome
  click_main "$XY_INSTALL"
  wait_log "CMainDlg::SelectPage 2" 10
  wait_log "CInstallController::OnProgress" 30 2   # the bar has moved
  grab_main 02-progress
  wait_log "CInstallController::StartInstall" 60
  grab_main 03-installing
  wait_installer_exit 90
  expect_eq "$(cd "$app" && ls -- *.loaded 2>/dev/null | tr '\n' ' ')" "" "planted DLLs that were loaded"
  expect_eq "$EXIT_CODE" 0 "exit code"
  local dir; dir="$(default_dir)"
  expect_installed "$dir"
  expect_no_file "$app/kvinstaller.exe"
  wait_launcher_calls "$dir"
  expect_eq "$(launcher_starts "$dir")" "$DEFAULT_DIR_WIN\\KorvelLauncher.exe -i \"7\" -d" "launcher command line"
  expect_eq "$(log_count 'KorvelLauncher.exe [-i "7" -d]: started')" 1 "launcher starts through the desktop shell"
  (( $(log_count "安装失败") == 0 )) || fail "a failure notice was shown"
}

# The folder page: a folder with "/" is refused and nothing starts; a typed
# folder with a blank shows its free space and installs there, its paths
# quoted on both command lines when they hold a blank.
scenario_custom() {
  server_start
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
  log_text | grep -qF 'CInstallJob::RunPackage C:\ProgramData\KorvelQixarInstaller\kvinstaller.exe /S "/unpack=D:\My Games\KorvelQixar" /launch=off' ||
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
  acc_wait_state "$MAIN_CLASS" "$MAIN_TITLE" 同意 '^同意 \| check button \| [a-z ,]*\|' 5 unchecked
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
  local good; good="$(descriptor_value Md5)"
  [[ ${#good} == 32 ]] || fail "no Md5 in the served descriptor"
  sed -i 's/^Md5=.*/Md5=0123456789abcdef0123456789abcdef\r/I' "$SERVER_ROOT/kvinstall.txt"
  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "文件已损坏，请重新下载！" 60
  sed -i "s/^Md5=.*/Md5=${good^^}\r/I" "$SERVER_ROOT/kvinstall.txt"   # upper case still matches
  answer_box "^$BOX_TITLE\$" "$XY_BOX_OK_WITH_CANCEL" 01-corrupt-box
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code after 重新下载"
  expect_eq "$(log_count "CInstallController::OnDescriptor (0,0)")" 2 "descriptor fetches"
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

# Update server down at first: a notice, silent retries every cycle, then
# success once it is up, resuming the partial download. (One notice for a
# run of failures: InstallControllerTest's first row.)
scenario_retry() {
  local port dir; port="$(free_port)"; dir="$(default_dir)"
  server_start --port "$port"   # for the descriptor's Version
  partial_download
  server_stop
  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "安装失败，请检查网络后重试" 30
  grab_screen 01-failure-notice
  wait_log "CInstallController::OnRetryTimer" 15
  server_start --port "$port"
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_installed "$dir"
  server_requests | grep -q '" 206 ' || fail "the partial file was not resumed: $(server_requests)"
  expect_eq "$(log_count "CMsgBoxDlg::InitWindow [提示信息] 安装失败")" 1 "failure notices"
}

# A network that wants a sign-in answers every address with its own page:
# the window says so (not "check the network"), keeps trying, and installs
# by itself once the user has signed in.
scenario_signin() {
  server_start --portal
  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "CMsgBoxDlg::InitWindow [提示信息] 当前网络需要登录" 30
  grab_screen 01-signin-notice
  wait_log "CInstallController::OnRetryTimer" 15
  rm -f "$SERVER_ROOT/portal-on"   # the user signs in
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_installed "$(default_dir)"
  expect_eq "$(log_count "CMsgBoxDlg::InitWindow [提示信息] 当前网络需要登录")" 1 "sign-in notices"
  expect_eq "$(log_count "请检查网络")" 0 "network notices"
}

# The package folder's drive lacks room for the package: the box names the
# system drive, the folder and the room needed, nothing is fetched while it is up, the window
# goes back to the folder page, and the install goes through once there is
# room.
scenario_diskfull() {
  server_start
  local size free
  size="$(descriptor_value Size)"
  free="$(df -B1 --output=avail "$WINEPREFIX/drive_c" | tail -1 | tr -d ' ')"
  sed -i "s/^Size=.*/Size=$(( free + 300 * 1024 * 1024 ))\r/" "$SERVER_ROOT/kvinstall.txt"
  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "CMsgBoxDlg::InitWindow [提示信息] 系统盘空间不足或无法写入（更换安装目录无济于事，请先清理系统盘）：$STAGING_WIN（还需要约 " 30
  sleep 2   # two retry cycles: nothing may be fetched meanwhile
  server_requests | grep -q 'kvinstaller.exe' && fail "the package was requested: $(server_requests)"
  expect_eq "$(log_count "CInstallController::OnRetryTimer")" 0 "retries while the disk is full"
  answer_box "^$BOX_TITLE\$" "$XY_BOX_OK_ALONE" 01-disk-box
  wait_log "CMainDlg::SelectPage 1" 10
  grab_main 02-back-on-folder-page
  sed -i "s/^Size=.*/Size=$size\r/" "$SERVER_ROOT/kvinstall.txt"   # room again
  click_main "$XY_INSTALL2"
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_installed "$(default_dir)"
}

# Another program (a scanner) holds the partial download without sharing it
# for 3 s when the download begins: a quiet wait, no box, and the download
# resumes once the file is free.
scenario_locked() {
  server_start --rate "$(slow_rate)"
  local dir holder_out="$E2E_DIR/holder.txt"; dir="$(default_dir)"
  partial_download
  start_installer 7
  (exec wine "$KV_BUILD/tests/e2e/FileHolder.exe" "$(winpath "$PARTIAL")" 3000 >"$holder_out" 2>&1) &
  holder_opened() { grep -q held "$holder_out"; }
  wait_until 30 holder_opened || fail "the holder did not open the partial file: $(cat "$holder_out")"
  click_main "$XY_INSTALL"
  wait_log "(1,32)" 30
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_installed "$dir"
  expect_eq "$(log_count "CMsgBoxDlg::InitWindow")" 0 "message boxes"
  server_requests | grep -q 'kvinstaller.exe HTTP/1.1" 206 ' || fail "the partial file was not resumed: $(server_requests)"
}

# An earlier installation recorded in the launcher's ini: "直接启动" starts
# it; "覆盖安装" goes to the folder page, and the install stops the running
# launcher in that folder, not one in a sibling folder with the same prefix.
scenario_earlier() {
  earlier_install
  local old=$OLD sib="$E2E_DIR/d/Old/KorvelQixar2"
  mkdir -p "$sib"
  cp "$KV_STANDIN_LAUNCHER" "$sib/KorvelLauncher.exe"
  echo x >"$old/uninst.exe"
  use_port "$(free_port)"

  start_installer
  answer_box "^$BOX_TITLE\$" "$XY_BOX_CANCEL" 01-earlier-question
  wait_installer_exit 20
  expect_eq "$EXIT_CODE" 0 "exit code after 直接启动"
  wait_launcher_calls "$old"
  expect_eq "$(launcher_starts "$old")" 'D:\Old\KorvelQixar\KorvelLauncher.exe -i "0" -d' "old launcher's command line"
  expect_eq "$(log_count "CMainDlg::SelectPage")" 0 "page changes"

  server_start
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
  process_gone() { ! kill -0 "$1" 2>/dev/null; }
  wait_until 5 process_gone $old_pid || fail "the running launcher in the installation folder was not stopped"
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
  wait_log "CInstallController::StartInstall" 10
  grab_main 01-installing-local
  wait_installer_exit 60
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_eq "$(log_count "CInstallController::OnDescriptor")" 0 "descriptor fetches"
  expect_eq "$(log_count "CInstallController::OnDone (0,0)")" 1 "done reports"
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
  wait_log "CInstallController::OnProgress" 30 2
  click_main "$XY_CLOSE"
  answer_box "^$EXIT_TITLE\$" "$XY_BOX_OK_WITH_CANCEL" 01-exit-during-download
  wait_installer_exit 15
  expect_eq "$EXIT_CODE" 0 "exit code after the confirmed exit"
  local tmp; tmp="$(compgen -G "$(staging_dir)/*.tmp" | head -1)"
  [[ -s $tmp ]] || fail "no partial download left after the exit"
  local size1; size1="$(stat -c %s "$tmp")"

  start_installer 7
  click_main "$XY_INSTALL"
  wait_log "CInstallController::OnProgress" 30 2
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

# A blind user's install, through the accessible objects alone (no mouse,
# no keys): every page and both kinds of message box read as a screen
# reader reads them; the agreement unticked and ticked again, the custom
# folder page, the install, the exit question answered "取消" in the middle
# of the download; the focus (also back after a box), state, alert, page
# and value events arrive in order, the value at most once a second.
scenario_a11y() {
  server_start --rate "$(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 6 ))"
  xdotool mousemove 0 0   # no hover state under a resting pointer
  events_start
  start_installer 7
  local M=("$MAIN_CLASS" "$MAIN_TITLE")
  local btn='push button \| focusable(,hot tracked)?'
  acc_expect_tree "${M[@]}" 01-welcome <<EOF_TREE
window: 安装KorvelQixar \| client \| focus(ed,focusable|able) \|  \| 0,0 540x355
  立即安装 \| $btn \|  \| 177,237 184x44 \| 按下
  同意 \| check button \| checked,focusable \|  \| 13,323 45x24 \| 取消选中
  用户许可协议 \| link \| focusable,linked \|  \| 63,328 67x15 \| 跳转
  自定义安装 \| $btn \|  \| 385,327 140x17 \| 按下
  最小化 \| $btn \|  \| 480,0 30x30 \| 按下
  关闭 \| $btn \|  \| 510,0 30x30 \| 按下
EOF_TREE
  acc_do "${M[@]}" 同意
  acc_wait_state "${M[@]}" 同意 '^同意 \| check button \| focused,focusable \|' 5
  acc_do "${M[@]}" 立即安装
  acc wait "$BOX_CLASS" "$BOX_TITLE" 20 >/dev/null || fail "no agreement notice"
  acc_expect_tree "$BOX_CLASS" "$BOX_TITLE" 02-notice-box <<EOF_TREE
window: Qixar提示 \| dialog \| focus(ed,focusable|able) \|  \| 0,0 280x115
  提示信息 \| static text \| read only \|  \| 5,5 253x22
  关闭 \| $btn \|  \| 250,0 30x30 \| 按下
  未勾选“同意软件许可协议”。 \| static text \| read only \|  \| 59,38 211x33
  确定 \| $btn \|  \| 210,81 60x25 \| 按下
EOF_TREE
  acc_do "$BOX_CLASS" "$BOX_TITLE" 确定
  acc gone "$BOX_CLASS" "$BOX_TITLE" 10 >/dev/null || fail "the notice stayed open"
  acc_do "${M[@]}" 同意
  acc_wait_state "${M[@]}" 同意 '^同意 \| check button \| focused,checked,focusable \|' 5
  acc_do "${M[@]}" 自定义安装
  wait_log "CMainDlg::UpdateFreeSpace $DEFAULT_DIR_WIN: " 10
  acc_expect_tree "${M[@]}" 03-folder <<EOF_TREE
window: 安装KorvelQixar \| client \| focus(ed,focusable|able) \|  \| 0,0 540x355
  安装目录 \| static text \| read only \|  \| 36,254 200x18
  安装目录 \| (editable )?text \| focusable \| D:\\\\Korvel网络\\\\KorvelQixar \| 36,280 387x29 \| 编辑
  浏览 \| $btn \|  \| 421,280 84x29 \| 按下
  所需磁盘空间：120MB \| static text \| read only \|  \| 36,323 150x18
  可用磁盘空间： \| static text \| read only \|  \| 190,323 110x17
  [0-9.]+(GB|TB) \| static text \| read only \|  \| 274,323 60x19
  立即安装 \| $btn \|  \| 407,318 100x28 \| 按下
  最小化 \| $btn \|  \| 480,0 30x30 \| 按下
  关闭 \| $btn \|  \| 510,0 30x30 \| 按下
EOF_TREE
  acc_do "${M[@]}" 立即安装
  wait_log "CInstallController::OnProgress" 30 3
  acc_expect_tree "${M[@]}" 04-progress <<EOF_TREE
window: 安装KorvelQixar \| client \| focus(ed,focusable|able) \|  \| 0,0 540x355
  安装进度 \| progress bar \| read only \| [0-9]+% \| 18,303 500x30
  下载中 \| static text \| read only \|  \| 18,329 150x20
  剩余.* @ .*/s \| static text \| read only \|  \| 300,329 218x20
  最小化 \| $btn \|  \| 480,0 30x30 \| 按下
  关闭 \| $btn \|  \| 510,0 30x30 \| 按下
EOF_TREE
  acc_do "${M[@]}" 关闭
  acc wait "$BOX_CLASS" "$EXIT_TITLE" 20 >/dev/null || fail "no exit question"
  acc_expect_tree "$BOX_CLASS" "$EXIT_TITLE" 05-exit-question <<EOF_TREE
window: 退出安装 \| dialog \| focus(ed,focusable|able) \|  \| 0,0 280x115
  退出安装 \| static text \| read only \|  \| 5,5 253x22
  关闭 \| $btn \|  \| 250,0 30x30 \| 按下
  是否退出安装？ \| static text \| read only \|  \| 59,38 211x33
  确定 \| $btn \|  \| 140,81 60x25 \| 按下
  取消 \| $btn \|  \| 210,81 60x25 \| 按下
EOF_TREE
  # The window behind the question takes no action meanwhile.
  acc do "${M[@]}" 关闭 >/dev/null && fail "the installer window acted while its question was open"
  acc_do "$BOX_CLASS" "$EXIT_TITLE" 取消
  acc gone "$BOX_CLASS" "$EXIT_TITLE" 10 >/dev/null || fail "the exit question stayed open"
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_installed "$(default_dir)"
  wait_launcher_calls "$(default_dir)"
  expect_eq "$(log_count "CMainDlg::SelectPage")" 2 "page changes"
  events_stop
  note "events a reader heard:"; events | sed 's/^/    /'
  # Focus on each control acted on; both boxes announced; two page changes.
  local name
  for name in '同意' '立即安装' '关闭'; do
    events | grep -q "^[0-9]* FOCUS [0-9]* | $name | " || fail "no focus event for $name"
  done
  # 自定义安装 shows the next page at once: its focus event names it by its
  # place among the welcome page's children (4), renumbered by the time the
  # listener reads it.
  events | grep -Eq '^[0-9]* FOCUS 4 \| (自定义安装|所需磁盘空间)' || fail "no focus event for 自定义安装 (4)"
  events | grep -q '^[0-9]* ALERT 0 | Qixar提示 | dialog | .*未勾选' || fail "the notice was not announced with its text"
  # When a box closes the reader lands on the control that kept the focus
  # (the one clicked to open it), not on the bare window.
  events | sed -n '/ALERT 0 | Qixar提示/,$p' | grep -q '^[0-9]* FOCUS [0-9]* | 立即安装 | push button |  | says: 立即安装 push button$' ||
    fail "no focus back on 立即安装 after the notice closed"
  # The agreement's tick is told as it changes: cleared, then ticked again.
  events | grep '^[0-9]* STATE [0-9]* | 同意 | ' | sed 's/.*says: //' | tr '\n' ';' | grep -q '^同意 check button not checked;同意 check button checked;' ||
    fail "the agreement's state changes were not told in order"
  events | grep -q '^[0-9]* ALERT 0 | 退出安装 | dialog | .*是否退出安装？' || fail "the exit question was not announced with its text"
  (( $(events | grep -c '^[0-9]* REORDER 0 | 安装KorvelQixar') >= 2 )) || fail "page changes were not told"
  # Progress values: several, rising, never two within a second.
  local times; times="$(events | awk '$2 == "VALUE" && /\| 安装进度 \|/ {print $1}')"
  (( $(wc -l <<<"$times") >= 3 )) || fail "fewer than 3 progress value events"
  awk 'NR > 1 && $1 - prev < 950 {bad = 1; print "value events " prev " and " $1 " are " $1 - prev " ms apart"} {prev = $1} END {exit bad}'     <<<"$(sort -n <<<"$times")" || fail "progress value events came more than once a second"
}

# ------------------------------------------------------- unattended runs

# Steps every unattended log must show, in this order.
expect_log_in_order() {
  local at=0 line
  for step in "$@"; do
    line="$(unattended_log | grep -nF -- "$step" | cut -d: -f1 | awk -v at="$at" '$1 > at {print; exit}')"
    [[ -n $line ]] || fail "the log lacks \"$step\" (after line $at)"
    at=$line
  done
}

# Source number 12 and a folder with blanks, /D= unquoted and last as
# administrators type it: no window at any moment, the launcher started,
# exit 0, and a UTF-8 log of every step with time stamps.
scenario_silent_install() {
  server_start --rate "$(slow_rate)"
  unattended_log_setup "$E2E_DIR"
  local md5; md5="$(md5sum "$KV_STANDIN_PACKAGE" | cut -c1-32)"
  windows_watch_start "$E2E_DIR/windows.txt"
  run_unattended 90 12 /s "$LOG_ARG" '/D=D:\Program' 'Files\Korvel' 'Qixar'
  windows_watch_stop
  expect_eq "$EXIT_CODE" 0 "exit code"
  [[ ! -s $E2E_DIR/windows.txt ]] || fail "windows were shown: $(sort -u "$E2E_DIR/windows.txt" | head)"
  local dir="$E2E_DIR/d/Program Files/Korvel Qixar" win='D:\Program Files\Korvel Qixar'
  expect_installed "$dir"
  expect_eq "$(iconv -f UTF-16LE -t UTF-8 "$dir/package-cwd.txt")" "$STAGING_WIN" "the package's current directory"
  wait_launcher_calls "$dir"
  expect_eq "$(launcher_calls "$dir")" "\"$win\\KorvelLauncher.exe\" -i \"12\" -d" "launcher command line"
  iconv -f UTF-8 -t UTF-8 "$UNATTENDED_LOG" >/dev/null || fail "the log is not UTF-8"
  [[ "$(head -c3 "$UNATTENDED_LOG" | od -An -tx1 | tr -d ' ')" == efbbbf ]] || fail "the log has no UTF-8 byte-order mark"
  unattended_log | grep -vE '^\[(INFO|WARN|ERRO)\]\[20[0-9]{2}-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\]' |
    head -3 | grep -q . && fail "log lines without a time stamp: $(unattended_log | grep -vE '^\[....\]\[20' | head -3)"
  expect_log_in_order 'unattended, command line [12 /s /LOG=' \
    "[UM] descriptor from http://127.0.0.1:$SERVER_PORT/kvinstall.txt: (0,0)" \
    "[UM] package http://127.0.0.1:$SERVER_PORT/" \
    "CInstallController::OnProgress" \
    "digests of $STAGING_WIN\\kvinstaller.exe match: md5 $md5" \
    "CInstallJob::RunPackage $STAGING_WIN\\kvinstaller.exe /S \"/unpack=$win\" /launch=off" \
    'the package ended with exit code 0' \
    "StartThroughDesktopShell $win\\KorvelLauncher.exe [-i \"12\" -d]: " \
    'CInstallController::Finish 0 (installed)' \
    'wWinMain exit code 0'
}

# An earlier installation: /S /KEEP starts its launcher and installs
# nothing; /S alone installs over it (覆盖安装: its launcher folder cleaned).
scenario_silent_keep() {
  earlier_install
  local old=$OLD
  unattended_log_setup "$E2E_DIR"
  use_port "$(free_port)"   # nothing to download from
  run_unattended 30 5 /S /KEEP "$LOG_ARG"
  expect_eq "$EXIT_CODE" 0 "exit code of /KEEP"
  wait_launcher_calls "$old"
  expect_eq "$(launcher_starts "$old")" 'D:\Old\KorvelQixar\KorvelLauncher.exe -i "5" -d' "kept launcher's command line"
  expect_file "$old/bin/core.dll"
  expect_eq "$(unattended_count '[UM] descriptor from')" 0 "descriptor fetches with /KEEP"

  server_start
  run_unattended 90 5 /S "$LOG_ARG"
  expect_eq "$EXIT_CODE" 0 "exit code of the install over it"
  expect_no_file "$old/bin"
  expect_installed "$old"
  wait_launcher_calls "$old" 2
  expect_eq "$(launcher_starts "$old" | tail -1)" 'D:\Old\KorvelQixar\KorvelLauncher.exe -i "5" -d' "new launcher's command line"
}

# An unknown switch is refused before anything starts (exit 1, the log says
# which; a /D= folder without its drive: SilentRunTest); /NOLAUNCH:
# installed, the launcher not started.
scenario_silent_switches() {
  server_start
  unattended_log_setup "$E2E_DIR"
  run_unattended 20 12 /S /FAST "$LOG_ARG"
  expect_eq "$EXIT_CODE" 1 "exit code of an unknown switch"
  expect_eq "$(unattended_count 'bad command line: 未知的开关：/FAST')" 1 "log of the unknown switch"
  expect_eq "$(unattended_count '[UM] descriptor from')" 0 "descriptor fetches after the unknown switch"
  run_unattended 90 /S /NOLAUNCH "$LOG_ARG"
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_installed "$(default_dir)"
  # The installer has ended without asking for a start (every start is
  # logged), so none can still come.
  expect_eq "$(unattended_count 'StartThroughDesktopShell')" 0 "launcher start requests"
  expect_eq "$(launcher_calls "$(default_dir)")" "" "launcher starts"
  expect_eq "$(unattended_count 'KorvelLauncher.exe not started (/NOLAUNCH)')" 1 "log of the launcher not started"
}

# No update server at all: retries every cycle (a second here) until
# /TIMEOUT=6 has passed without progress, then exit 3 with the reason in the log.
scenario_silent_timeout() {
  use_port "$(free_port)"
  KV_DESCRIPTOR_URLS="${KV_DESCRIPTOR_URLS%%;*}"   # the primary alone: shorter cycles
  unattended_log_setup "$E2E_DIR"
  local start=$SECONDS
  run_unattended 60 /S /TIMEOUT=6 "$LOG_ARG"
  local took=$((SECONDS - start))
  expect_eq "$EXIT_CODE" 3 "exit code"
  (( took >= 6 && took <= 25 )) || fail "gave up after ${took}s, not after about 6s"
  (( $(unattended_count 'CInstallController::OnRetryTimer fetching the descriptor again') >= 2 )) ||
    fail "fewer than 2 retries: $(unattended_log | grep -F OnRetryTimer)"
  unattended_log | grep -qE 'CInstallController::OnRetryTimer no progress for ([6-9]|1[0-9]) s, the last failure \([0-9]+,[0-9]+\): giving up' ||
    fail "the log does not say why: $(unattended_log | tail -5)"
  expect_eq "$(unattended_count 'CInstallController::Finish 3 (network unreachable until the time-out)')" 1 "final log line"
  expect_no_file "$(default_dir)/KorvelLauncher.exe"
}

# A descriptor whose Md5 never matches: downloaded from each address alone,
# nothing run, exit 4.
scenario_silent_md5() {
  server_start
  sed -i 's/^Md5=.*/Md5=0123456789abcdef0123456789abcdef\r/I' "$SERVER_ROOT/kvinstall.txt"
  unattended_log_setup "$E2E_DIR"
  run_unattended 90 7 /S "$LOG_ARG"
  expect_eq "$EXIT_CODE" 4 "exit code"
  # The main Url alone, then the mirror alone: each address failed on its own.
  expect_eq "$(server_requests | grep -c 'GET /kvinstaller.exe HTTP/1.1" 200 ')" 1 "package downloads from the main Url"
  expect_eq "$(server_requests | grep -c 'GET /mirror/kvinstaller.exe HTTP/1.1" 200 ')" 1 "package downloads from the mirror"
  expect_eq "$(unattended_count '文件校验失败')" 2 "digest mismatches"
  expect_eq "$(unattended_count 'CInstallJob::RunPackage')" 0 "package runs"
  expect_no_file "$(default_dir)/KorvelLauncher.exe"
  expect_eq "$(launcher_calls "$(default_dir)")" "" "launcher starts"
}

# A mirror that serves other bytes of the package's length beside a good
# main Url: the download in parallel ranges fails its digest, the main Url
# alone installs (one extra download), and the log names the addresses that
# served each part.
scenario_silent_mirror() {
  local big="$E2E_DIR/big.exe"
  cp "$KV_STANDIN_PACKAGE" "$big"
  head -c $(( 9 * 1024 * 1024 )) /dev/zero >>"$big"   # past the size fetched in ranges
  # Slower than a stream that stays alone; no piece digests, so that only
  # the whole file's digest can find the mirror out.
  server_start --rate 4m --package "$big" --piece-size 0
  local at   # a changed byte in every 256 KiB, so that whatever part the mirror serves is wrong
  for (( at = 512 * 1024; at < $(stat -c %s "$big"); at += 256 * 1024 )); do
    printf 'X' | dd of="$SERVER_ROOT/mirror/kvinstaller.exe" bs=1 seek=$at conv=notrunc status=none
  done
  unattended_log_setup "$E2E_DIR"
  run_unattended 120 7 /S "$LOG_ARG"
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_installed "$(default_dir)"
  expect_eq "$(unattended_count 'the bytes came from 2 addresses')" 1 "downloads from several addresses"
  expect_eq "$(unattended_count "[UM] package from http://127.0.0.1:$SERVER_PORT/kvinstaller.exe alone")" 1 "downloads from the main Url alone"
  unattended_log | grep -F "/mirror/kvinstaller.exe" | grep -qi 'bytes' ||
    fail "the log does not say which bytes the mirror served"
}

# While an installer with its window downloads: an unattended one ends with
# 2 at once; another one with a window brings the first to the front (it
# was behind another program's window) and ends; the first goes on
# undisturbed and installs. The front is the system's window order and
# foreground window (Wine without a window manager does not restack the X
# windows of another process's activation to match).
scenario_silent_second() {
  server_start --rate "$(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 8 ))"
  unattended_log_setup "$E2E_DIR"
  start_installer 7
  local first_pid=$INSTALLER_PID
  click_main "$XY_INSTALL"
  wait_log "CInstallController::OnProgress" 30
  run_unattended 20 /S "$LOG_ARG"
  expect_eq "$EXIT_CODE" 2 "exit code of the unattended second"
  expect_eq "$(unattended_count 'another installer is running')" 1 "log of the unattended second"
  expect_eq "$(unattended_count '[UM] descriptor from')" 0 "descriptor fetches of the second"

  # Another program's window in front of it.
  wine notepad >/dev/null 2>&1 &
  wait_window 'Notepad' 30 >/dev/null || fail "notepad did not start"
  acc front "$MAIN_CLASS" "$MAIN_TITLE" | grep -qx 'above: \[Untitled - Notepad\]' ||
    fail "notepad is not in front of the installer: $(acc front "$MAIN_CLASS" "$MAIN_TITLE")"
  run_unattended 20 7 "$LOG_ARG"
  expect_eq "$EXIT_CODE" 0 "exit code of the windowed second"
  expect_eq "$(acc front "$MAIN_CLASS" "$MAIN_TITLE" | tr '\n' ' ')" "foreground: yes above: " "the first installer's place"
  expect_eq "$(xdotool search --onlyvisible --name "^$MAIN_TITLE\$" | wc -l)" 1 "installer windows"
  expect_eq "$(unattended_count 'BringRunningInstallerToFront')" 1 "log of the windowed second"

  INSTALLER_PID=$first_pid
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code of the first"
  expect_installed "$(default_dir)"
  wait_launcher_calls "$(default_dir)"
  expect_eq "$(server_requests | grep -c 'GET /kvinstaller.exe')" 1 "package requests"
}

# An unattended install killed during its download: the next unattended run
# resumes the partial file with a ranged request.
scenario_silent_resume() {
  server_start --rate "$(( $(stat -c %s "$KV_STANDIN_PACKAGE") / 10 ))"
  unattended_log_setup "$E2E_DIR"
  start_unattended 7 /S "$LOG_ARG"
  wait_unattended_log "CInstallController::OnProgress" 30
  partial_written() { local tmp; tmp="$(compgen -G "$(staging_dir)/*.tmp" | head -1)"; [[ -s $tmp ]]; }
  wait_until 30 partial_written || fail "nothing of the package was written"
  kill -KILL "$INSTALLER_PID"
  wait "$INSTALLER_PID" 2>/dev/null || true
  INSTALLER_PID=""
  local tmp; tmp="$(compgen -G "$(staging_dir)/*.tmp" | head -1)"
  [[ -s $tmp ]] || fail "no partial download left by the killed run"
  local size1; size1="$(stat -c %s "$tmp")"
  note "killed with $size1 bytes in $(basename "$tmp")"
  server_stop
  server_start --port "$SERVER_PORT"   # the rest at full speed
  run_unattended 90 7 /S "$LOG_ARG"
  expect_eq "$EXIT_CODE" 0 "exit code of the resuming run"
  expect_installed "$(default_dir)"
  wait_launcher_calls "$(default_dir)"
  server_requests | grep -q 'GET /kvinstaller.exe HTTP/1.1" 206 ' ||
    fail "no ranged request resumed the partial file: $(server_requests)"
}

# The administrator's /PROXY= in its three forms, over user settings naming
# a dead proxy: tinyproxy, a script naming it, direct; a script that never
# answers (direct after 5 s); a proxy asking for a login: exit 13 without
# one, installed with /PROXYUSER= and /PROXYPASS=, the password in no log.
scenario_silent_proxy() {
  server_start
  proxy_start plain; proxy_start auth 'BasicAuth kv s3cret'; silent_start
  printf 'function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:%s"; }\n' "$PROXY_PORT_plain" >"$SERVER_ROOT/proxy.pac"
  user_proxy_settings 3 "127.0.0.1:$(free_port)" ""
  unattended_log_setup "$E2E_DIR"
  local pkg="GET http://127.0.0.1:$SERVER_PORT/kvinstaller.exe" form
  for form in "127.0.0.1:$PROXY_PORT_plain" "http://127.0.0.1:$SERVER_PORT/proxy.pac" direct; do
    run_unattended 90 /S /NOLAUNCH "/PROXY=$form" "$LOG_ARG"
    expect_eq "$EXIT_CODE" 0 "exit code with /PROXY=$form"
  done
  expect_eq "$(proxy_requests plain "$pkg")" 2 "package downloads through tinyproxy"
  expect_eq "$(unattended_count "kvinstaller.exe via 127.0.0.1:$PROXY_PORT_plain (switch: configured proxy)")" 1 "host:port in the log"
  expect_eq "$(unattended_count "kvinstaller.exe via 127.0.0.1:$PROXY_PORT_plain (switch: switch http://127.0.0.1:$SERVER_PORT/proxy.pac)")" 1 "script in the log"
  expect_eq "$(unattended_count 'kvinstaller.exe via DIRECT (switch: /PROXY=direct)')" 1 "direct in the log"

  local start=$SECONDS
  run_unattended 90 /S /NOLAUNCH "/PROXY=http://127.0.0.1:$SILENT_PORT/never.pac" "$LOG_ARG"
  expect_eq "$EXIT_CODE" 0 "exit code with a script that never answers"
  (( SECONDS - start < 45 )) || fail "the run with a silent script took $((SECONDS - start)) s"
  expect_eq "$(unattended_count 'kvinstaller.exe via DIRECT (switch: no answer from the script within 5000 ms: direct)')" 1 "silent script in the log"

  run_unattended 60 /S /NOLAUNCH "/PROXY=127.0.0.1:$PROXY_PORT_auth" "$LOG_ARG"
  expect_eq "$EXIT_CODE" 13 "exit code against a proxy asking for a login"
  run_unattended 90 /S /NOLAUNCH "/PROXY=127.0.0.1:$PROXY_PORT_auth" /PROXYUSER=kv /PROXYPASS=s3cret "$LOG_ARG"
  expect_eq "$EXIT_CODE" 0 "exit code with /PROXYUSER= and /PROXYPASS="
  expect_eq "$(proxy_requests auth "$pkg")" 2 "package requests at the login proxy (refused, then carried)"
  expect_eq "$(unattended_count '/PROXYUSER=kv /PROXYPASS=*** /LOG=')" 1 "masked command line"
  expect_eq "$(unattended_count s3cret)" 0 "log lines with the password"
}

# The user's settings ask for automatic detection; WPAD (the injected step:
# KV_WPAD_URL) finds a script naming a proxy that asks for a login. The
# login box, read by a screen reader and filled in from the keyboard, gets
# the download through.
scenario_proxy_login() {
  server_start
  proxy_start auth 'BasicAuth kv s3cret'
  printf 'function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:%s"; }\n' "$PROXY_PORT_auth" >"$SERVER_ROOT/wpad.dat"
  user_proxy_settings 9 "" ""
  export KV_WPAD_URL="http://127.0.0.1:$SERVER_PORT/wpad.dat"
  start_installer 7
  click_main "$XY_INSTALL"
  local L=(korvelproxylogin 代理服务器需要登录) btn='push button \| focusable(,hot tracked)?'
  acc wait "${L[@]}" 30 >/dev/null || fail "no login box"
  grab_screen 01-login
  acc_expect_tree "${L[@]}" 01-login <<EOF_TREE
window: 代理服务器需要登录 \| dialog \| focus(ed,focusable|able) \|  \| 0,0 280x150
  代理服务器需要登录 \| static text \| read only \|  \| 5,5 243x22
  关闭 \| $btn \|  \| 250,0 30x30 \| 按下
  用户名 \| static text \| read only \|  \| 20,42 64x24
  用户名 \| (editable )?text \| focus(ed,focusable|able) \|  \| 84,42 176x24 \| 编辑
  密码 \| static text \| read only \|  \| 20,74 64x24
  密码 \| (editable )?text \| (focused,)?focusable,protected \|  \| 84,74 176x24 \| 编辑
  确定 \| $btn \|  \| 130,108 60x25 \| 按下
  取消 \| $btn \|  \| 200,108 60x25 \| 按下
EOF_TREE
  wait_until 10 acc_focus_is "${L[@]}" 用户名 || fail "typing does not start in the user name"
  xdotool type --delay 40 kv; xdotool key Tab; xdotool type --delay 40 s3cret; xdotool key Return  # Enter in 密码 gives the login
  acc gone "${L[@]}" 10 >/dev/null || fail "the login box stayed open"
  wait_installer_exit 90
  expect_eq "$EXIT_CODE" 0 "exit code"
  expect_installed "$(default_dir)"
  expect_eq "$(log_count "CProxyResolver WPAD: http://127.0.0.1:$SERVER_PORT/wpad.dat")" 1 "WPAD in the log"
  expect_eq "$(log_count 'CProxyLoginDlg login given for user [kv]')" 1 "the login given"
  (( $(proxy_requests auth "GET http://127.0.0.1:$SERVER_PORT/kvinstaller.exe") >= 1 )) || fail "the package did not come through the proxy"
  expect_eq "$(log_count s3cret)" 0 "log lines with the password"
}

# The window in the language asked for: English names and titles, a second
# installer in another language finds the first by its window class, the
# switch list in Traditional Chinese; with the host's zh_TW locale, the
# system's UI language alone picks Traditional Chinese.
scenario_languages() {
  server_start --rate "$(slow_rate)"
  unattended_log_setup "$E2E_DIR"
  use_language en
  start_installer 7
  local tree; tree="$(acc tree "$MAIN_CLASS" "$MAIN_TITLE")"
  local name
  for name in "Install now" "I agree to the" "License Agreement" "Custom install" "Minimize" "Close"; do
    grep -q "^  $name | " <<<"$tree" || fail "no \"$name\" in the English window: $tree"
  done
  local first_pid=$INSTALLER_PID
  run_unattended 20 7 /LANG=zh-TW "$LOG_ARG"
  INSTALLER_PID=$first_pid
  expect_eq "$EXIT_CODE" 0 "exit code of the Traditional second"
  expect_eq "$(unattended_count 'BringRunningInstallerToFront')" 1 "the second found the first"
  expect_eq "$(unattended_count 'CUiTexts::Choose zh-TW')" 1 "language of the second"
  click_main "$XY_CLOSE"
  answer_box "^Quit Setup\$" "$XY_BOX_OK_WITH_CANCEL" 01-exit-box-en
  wait_installer_exit 20
  expect_eq "$EXIT_CODE" 0 "exit code"

  use_language zh-TW
  (cd "$(dirname "$INSTALLER_EXE")" && exec wine "$INSTALLER_EXE" "/?" /LANG=zh-TW "$LOG_ARG" >/dev/null 2>&1) &
  INSTALLER_PID=$!
  local help; help="$(wait_window "^$MAIN_TITLE\$" 30)" || fail "no switch list titled $MAIN_TITLE"
  grab_window "$help" 02-help-zh-TW
  xdotool windowactivate --sync "$help" key Return 2>/dev/null || xdotool key Return
  wait_installer_exit 20
  expect_eq "$EXIT_CODE" 0 "exit code of /?"

  if locale -a 2>/dev/null | grep -qix 'zh_TW.utf8'; then
    LC_ALL=zh_TW.UTF-8 LANG=zh_TW.UTF-8 KV_SYSTEM_LANG=1 start_installer 7
    wait_log "CUiTexts::Choose zh-TW (asked: -, UI language: zh-TW)" 10
    click_main "$XY_CLOSE"
    answer_box "^$EXIT_TITLE\$" "$XY_BOX_OK_WITH_CANCEL" 03-exit-box-system-zh-TW
    wait_installer_exit 20
  else
    note "the host has no zh_TW.UTF-8 locale: the system's UI language is not tried"
  fi
}

name=${1:?usage: scenarios.sh NAME}
declare -F "scenario_$name" >/dev/null || fail "no scenario $name"
e2e_setup "$name"
"scenario_$name"
note "scenario $name passed"

#!/usr/bin/env bash
# Creates the project's Wine prefix once and maps the skin's Chinese font names
# to the Debian CJK fonts so that GDI renders the installer's texts.
# KV_WINE_FONT_MAP=0 leaves the mapping out (a plain prefix, as a Linux or
# Proton user has it), to try the UI's own CJK font fallback.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

font_map="${KV_WINE_FONT_MAP:-1}"
# Bump the suffix when the mapping below changes, so existing prefixes update.
stamp="$WINEPREFIX/.kv-ready-$(wine --version 2>/dev/null | head -1 | tr ' ' _)-fonts2"
[[ $font_map == 0 ]] && stamp="$WINEPREFIX/.kv-ready-$(wine --version 2>/dev/null | head -1 | tr ' ' _)-plain"

# wine_reg FILE: imports the UTF-8 registry text of FILE (Wine reads .reg
# files as UTF-16LE with a byte-order mark).
wine_reg() {
  local reg; reg="$(mktemp --suffix=.reg)"
  iconv -f UTF-8 -t UTF-16LE "$1" | { printf '\xff\xfe'; cat; } >"$reg"
  wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
  wineserver -w
  rm -f "$reg"
}

if [[ ! -f $stamp ]]; then
  echo "[setup] creating Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w

  text="$(mktemp)"
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    if [[ $font_map != 0 ]]; then
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
      # Zen Hei's embedded 12-pixel bitmaps lose strokes under Wine; Micro Hei
      # is outline-only and stays legible at the skins' small sizes.
      printf '"宋体"="WenQuanYi Micro Hei"\r\n'
      printf '"SimSun"="WenQuanYi Micro Hei"\r\n'
      printf '"微软雅黑"="WenQuanYi Micro Hei"\r\n'
      printf '"Microsoft YaHei"="WenQuanYi Micro Hei"\r\n\r\n'
    fi
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n'
    printf '"ShowCrashDialog"=dword:00000000\r\n'
  } >"$text"
  wine_reg "$text"
  rm -f "$text"
  touch "$stamp"
fi

# The tests' displays have no window manager, and Wine waits 2 s for one
# whenever a managed window is hidden. The test programs (and, in the
# end-to-end prefix, the installer: KV_WINE_UNMANAGED) keep their windows
# unmanaged; other programs, the demo's installer among them, are left to
# the desktop's window manager.
unmanaged="ui_tests.exe ${KV_WINE_UNMANAGED:-}"
unmanaged_stamp="$WINEPREFIX/.kv-unmanaged-$(echo $unmanaged | tr ' ' '+')"
if [[ ! -f $unmanaged_stamp ]]; then
  text="$(mktemp)"
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    for program in $unmanaged; do
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\X11 Driver]\r\n"Managed"="N"\r\n\r\n' "$program"
    done
  } >"$text"
  wine_reg "$text"
  rm -f "$text" "$WINEPREFIX"/.kv-unmanaged-*
  touch "$unmanaged_stamp"
fi

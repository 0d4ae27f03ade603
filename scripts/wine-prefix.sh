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
[[ -f $stamp ]] && exit 0
echo "[setup] creating Wine prefix $WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineboot -i >/dev/null 2>&1 || true
wineserver -w

reg="$(mktemp --suffix=.reg)"
# Wine reads .reg files as UTF-16LE with a byte-order mark.
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
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
wine regedit /S "$(winepath -w "$reg")" >/dev/null 2>&1
wineserver -w
rm -f "$reg"
touch "$stamp"

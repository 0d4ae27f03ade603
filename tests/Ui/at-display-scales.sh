#!/usr/bin/env bash
# Runs a Windows test program under Wine once at each display scale, 96,
# 120, 144 and 192 DPI (100% to 200%), through with-display-scale.sh, which
# sets the prefix's LogPixels for the run and puts it back; the program sees
# KV_DISPLAY_DPI. Fails at the first scale that fails.
# Usage: at-display-scales.sh PROGRAM.exe [ARGS...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
for dpi in 96 120 144 192; do
  echo "== at $dpi DPI ($((dpi * 100 / 96))%)"
  "$scripts/with-display-scale.sh" "$dpi" "$scripts/wine-run.sh" "$@"
done

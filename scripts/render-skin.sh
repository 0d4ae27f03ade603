#!/usr/bin/env bash
# Renders the skin's art (Skin/art/*.svg) into the PNG files of the skin
# package (Skin/<name>.png), recompressed losslessly with zopflipng (the same
# pixels in fewer bytes: the skin is carried inside the installer), and the
# program icon (Skin/art/icon/*.svg) into a multi-size .ico beside the
# installer's resources. Run after changing any SVG; the PNGs and the .ico are
# kept in the repository so a build needs no renderer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
art="$KV_ROOT/Skin/art"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for svg in "$art"/*.svg; do
  name="$(basename "${svg%.svg}")"
  rsvg-convert --format=png -o "$tmp/$name.png" "$svg"
  zopflipng -y --always_zopflify "$tmp/$name.png" "$KV_ROOT/Skin/$name.png" >/dev/null
done
echo "rendered $(ls "$art"/*.svg | wc -l) images into $KV_ROOT/Skin"

# Explorer, the taskbar and Alt+Tab pick the size they need from the .ico.
# Every entry is stored as a PNG (read by Windows since Vista): a third of
# the bytes of 32-bit bitmaps.
for svg in "$art"/icon/*.svg; do
  name="$(basename "${svg%.svg}")"
  pngs=()
  for s in 16 20 24 32 40 48 64 256; do
    rsvg-convert --format=png -w "$s" -h "$s" -o "$tmp/$s.png" "$svg"
    pngs+=("$tmp/$s.png")
  done
  python3 - "$KV_ROOT/src/App/$name.ico" "${pngs[@]}" <<'PY'
import struct, sys
out, files = sys.argv[1], sys.argv[2:]
images = [open(f, "rb").read() for f in files]
header = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
entries = b""
for data in images:
    w, h = struct.unpack(">II", data[16:24])  # the PNG's IHDR
    entries += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
open(out, "wb").write(header + entries + b"".join(images))
PY
  echo "rendered $KV_ROOT/src/App/$name.ico (${#pngs[@]} sizes)"
done

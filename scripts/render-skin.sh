#!/usr/bin/env bash
# Renders the skin's art (Skin/art/*.svg) at 200% into the image files of the
# skin package (Skin/<name>@2x.png; the program scales them down, once per
# image and display scale, for smaller scales), and the program icon
# (Skin/art/icon/*.svg) into a multi-size .ico beside the installer's
# resources. The two large backgrounds, smooth gradients without
# transparency, are stored as JPEG (a third of the PNG's bytes, no visible
# loss: 4:4:4 chroma keeps the coloured text's edges); everything else as PNG
# recompressed losslessly with zopflipng (transparency and hard edges). The
# skin travels inside the installer. Run after changing any SVG; the images
# and the .ico are kept in the repository so a build needs no renderer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
art="$KV_ROOT/Skin/art"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
jpeg_names=" bg bg_progress "
jpeg_quality=85
rm -f "$KV_ROOT"/Skin/*.png "$KV_ROOT"/Skin/*.jpg
for svg in "$art"/*.svg; do
  name="$(basename "${svg%.svg}")"
  rsvg-convert --format=png --zoom=2 -o "$tmp/$name.png" "$svg"
  if [[ $jpeg_names == *" $name "* ]]; then
    convert "$tmp/$name.png" -strip -quality "$jpeg_quality" -sampling-factor 4:4:4 \
      -define jpeg:optimize-coding=true "$KV_ROOT/Skin/$name@2x.jpg"
  else
    zopflipng -y --always_zopflify "$tmp/$name.png" "$KV_ROOT/Skin/$name@2x.png" >/dev/null
  fi
done
echo "rendered $(ls "$art"/*.svg | wc -l) images at 200% into $KV_ROOT/Skin"

# Explorer, the taskbar and Alt+Tab pick the size they need from the .ico.
# Every entry is stored as a PNG (read by Windows since Vista), recompressed
# losslessly with zopflipng like the skin's: a third of the bytes of 32-bit
# bitmaps.
for svg in "$art"/icon/*.svg; do
  name="$(basename "${svg%.svg}")"
  pngs=()
  for s in 16 20 24 32 40 48 64 256; do
    rsvg-convert --format=png -w "$s" -h "$s" -o "$tmp/$s-raw.png" "$svg"
    zopflipng -y --always_zopflify "$tmp/$s-raw.png" "$tmp/$s.png" >/dev/null
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

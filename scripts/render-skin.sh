#!/usr/bin/env bash
# Renders the skin's art (Skin/art/*.svg) into the PNG files of the skin
# package (Skin/<name>.png) and recompresses each losslessly with zopflipng
# (the same pixels in fewer bytes: the skin is carried inside the installer).
# Run after changing any SVG; the PNGs are kept in the repository so a build
# needs no renderer.
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

#!/usr/bin/env bash
# Renders the skin's art (Skin/art/*.svg) into the PNG files of the skin
# package (Skin/<name>.png). Run after changing any SVG; the PNGs are kept in
# the repository so a build needs no renderer.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
art="$KV_ROOT/Skin/art"
for svg in "$art"/*.svg; do
  name="$(basename "${svg%.svg}")"
  rsvg-convert --format=png -o "$KV_ROOT/Skin/$name.png" "$svg"
done
echo "rendered $(ls "$art"/*.svg | wc -l) images into $KV_ROOT/Skin"

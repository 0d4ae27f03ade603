#!/usr/bin/env bash
# Size of the shipped installer: builds the stripped Release executable (skin
# included) in its own folder (KV_SIZE_BUILD, default build-size) with a
# linker map, and prints its size in bytes, the skin package's size, the
# breakdown per section and per library, and the largest code symbols (from
# an unstripped link of the same objects). The figure before the size work is
# a recorded one: rebuilding it needs the old dependency builds.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
bld="${KV_SIZE_BUILD:-$KV_ROOT/build-size}"
map="$bld/KorvelQixarInstaller.map"
# Recorded at commit 9313f5e (Release, stripped), before the size work.
baseline_bytes=1937920
baseline_skin_zip=299802
# Recorded at commit 1cc1810 (the same), before the room-making work (C++
# runtime replacements, zlib built for size, icon recompressed).
before_room_bytes=991232
before_room_skin_zip=224155
target_bytes=1000000

"$KV_ROOT/scripts/setup.sh" >/dev/null
cmake -S "$KV_ROOT" -B "$bld" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$KV_ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DKV_DEPS="$KV_DEP_LINKS" -DKV_LOOPBACK_ONLY=ON -DCMAKE_BUILD_TYPE=Release \
  -DKV_DESCRIPTOR_URLS="http://127.0.0.1:18380/kvinstall.txt;http://localhost:18380/kvinstall.txt" \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-Map,$map" >/dev/null
# Only the installer is linked here, so the map is its own.
cmake --build "$bld" -j "${KV_JOBS:-2}" --target KorvelQixarInstaller >/dev/null
exe="$bld/src/App/KorvelQixarInstaller.exe"
zip="$bld/skin/Skin.zip"

# The same link without -s gives the symbols.
unstripped="$bld/KorvelQixarInstaller.unstripped.exe"
link="$(cd "$bld" && ninja -t commands src/App/KorvelQixarInstaller.exe | tail -1)"
link="${link// -s / }"
link="${link//-Wl,-Map,$map/}"
link="${link// -o src\/App\/KorvelQixarInstaller.exe / -o $unstripped }"
link="${link//-Wl,--out-implib,src\/App\/libKorvelQixarInstaller.dll.a/}"
(cd "$bld" && eval "$link")
x86_64-w64-mingw32-nm -n -C "$unstripped" >"$bld/KorvelQixarInstaller.nm.txt"

size="$(stat -c %s "$exe")"
zip_size="$(stat -c %s "$zip")"
png_total="$(cat "$KV_ROOT"/Skin/*.png "$KV_ROOT"/Skin/*.jpg 2>/dev/null | wc -c)"
echo "== installer size (Release, stripped, skin included)"
echo "installer:                 $size bytes ($(awk -v s="$size" 'BEGIN{printf "%.2f", s/1048576}') MiB)"
echo "skin package (Skin.zip):   $zip_size bytes (of which images: $png_total bytes)"
echo "before (recorded, 9313f5e): $baseline_bytes bytes, skin package $baseline_skin_zip bytes"
echo "before room work (1cc1810): $before_room_bytes bytes, skin package $before_room_skin_zip bytes"
awk -v a="$size" -v b="$baseline_bytes" -v c="$before_room_bytes" -v t="$target_bytes" 'BEGIN{
  printf "ratio now / before:        %.3f (%d bytes less)\n", a/b, b-a;
  printf "now / before room work:    %.3f (%d bytes less)\n", a/c, c-a;
  printf "target:                    under %d bytes: %s\n", t, (a < t ? "met" : "NOT met") }'
echo
python3 "$KV_ROOT/bench/size_map.py" map "$map" 25
echo
python3 "$KV_ROOT/bench/size_map.py" symbols "$bld/KorvelQixarInstaller.nm.txt" 25

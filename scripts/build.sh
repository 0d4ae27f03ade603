#!/usr/bin/env bash
# Set-up (idempotent), configure and build. Extra arguments go to cmake's
# configure step. KV_BUILD selects the build folder (default ./build).
# Every build made here is a test or demo build: KV_LOOPBACK_ONLY is on and
# the descriptor endpoints are the demo update server's loopback addresses
# (scripts/update-server.sh start --port 18380), unless KV_DESCRIPTOR_URLS says otherwise.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$KV_ROOT/scripts/setup.sh"
werror=OFF
[[ -n ${CI:-} ]] && werror=ON
cmake -S "$KV_ROOT" -B "$KV_BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$KV_ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DKV_DEPS="$KV_DEPS" -DKV_WERROR="$werror" -DKV_LOOPBACK_ONLY=ON \
  -DKV_DESCRIPTOR_URLS="${KV_DESCRIPTOR_URLS:-http://127.0.0.1:18380/kvinstall.txt;http://localhost:18380/kvinstall.txt}" "$@" >/dev/null
cmake --build "$KV_BUILD" -j "${KV_JOBS:-2}"

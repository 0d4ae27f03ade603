#!/usr/bin/env bash
# Set-up (idempotent), configure and build. Extra arguments go to cmake's
# configure step. KV_BUILD selects the build folder (default ./build);
# KV_TARGETS, a blank-separated list of targets, builds only those (default:
# the whole tree).
# Every build made here is a test or demo build: KV_LOOPBACK_ONLY is on and
# the descriptor endpoints are the demo update server's loopback addresses
# (scripts/update-server.sh start --port 18380), unless KV_DESCRIPTOR_URLS says otherwise.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$KV_ROOT/scripts/setup.sh"
werror=OFF
[[ -n ${CI:-} ]] && werror=ON
# A compiler cache, when the machine has one, lets parallel work trees share objects.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$KV_ROOT")}" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$KV_ROOT" -B "$KV_BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$KV_ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DKV_DEPS="$KV_DEP_LINKS" -DKV_WERROR="$werror" -DKV_LOOPBACK_ONLY=ON "${launcher[@]}" \
  -DKV_DESCRIPTOR_URLS="${KV_DESCRIPTOR_URLS:-http://127.0.0.1:18380/kvinstall.txt;http://localhost:18380/kvinstall.txt}" "$@" >/dev/null
targets=()
[[ -n ${KV_TARGETS:-} ]] && read -ra targets <<<"$KV_TARGETS" && targets=(--target "${targets[@]}")
cmake --build "$KV_BUILD" -j "${KV_JOBS:-2}" "${targets[@]}"

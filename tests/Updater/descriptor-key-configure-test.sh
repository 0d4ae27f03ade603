#!/usr/bin/env bash
# Configures the project as a shipping build would, in a temporary folder:
# without a descriptor key the configure must fail, with the reason, unless
# unsigned descriptors are allowed on purpose; a key, or a loopback-only
# (test) build, configures as before.
#   descriptor-key-configure-test.sh <cmake> <source dir> <generator> <toolchain file> <KV_DEPS>
set -euo pipefail
cmake=$1 src=$2 generator=$3 toolchain=$4 deps=$5
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
"$src/scripts/descriptor-sign.sh" keygen "$work/key" >/dev/null

configure() {  # configure <expected: ok|fail> <what> [cache options...]
  local expected=$1 what=$2 rc=0
  shift 2
  "$cmake" -S "$src" -B "$work/build" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKV_DEPS="$deps" \
    "$@" >"$work/log" 2>&1 || rc=$?
  if [[ $expected == ok && $rc -ne 0 ]]; then cat "$work/log" >&2; fail "$what: the configure failed"; fi
  if [[ $expected == fail && $rc -eq 0 ]]; then fail "$what: the configure succeeded"; fi
  echo "ok: $what"
}
has_key() { grep -q "^#define KV_HAS_DESCRIPTOR_KEY $1\$" "$work/build/src/Updater/DescriptorKey.h" || fail "KV_HAS_DESCRIPTOR_KEY is not $1"; }

configure fail "real servers, no key" -DKV_LOOPBACK_ONLY=OFF
grep -q "KV_DESCRIPTOR_PUBKEY" "$work/log" && grep -q "KV_ALLOW_UNSIGNED_DESCRIPTOR=ON" "$work/log" ||
  { cat "$work/log" >&2; fail "the refusal does not name the key and the way out"; }
configure ok "real servers, unsigned on purpose" -DKV_ALLOW_UNSIGNED_DESCRIPTOR=ON
has_key 0
configure ok "real servers, a key" -DKV_ALLOW_UNSIGNED_DESCRIPTOR=OFF -DKV_DESCRIPTOR_PUBKEY="$work/key/public.pem"
has_key 1
configure ok "loopback only, no key" -DKV_LOOPBACK_ONLY=ON -DKV_DESCRIPTOR_PUBKEY= \
  -DKV_DESCRIPTOR_URLS="http://127.0.0.1:18380/kvinstall.txt;http://localhost:18380/kvinstall.txt"
has_key 0

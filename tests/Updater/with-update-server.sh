#!/usr/bin/env bash
# Runs a test program under Wine with the real update server around it:
# scripts/update-server.sh start (nginx on a free 127.0.0.1 port, Version
# 3.2.1), the program with KV_UPDATE_SERVER_URL and KV_UPDATE_SERVER_DIR (a
# Windows path) in its environment, then stop, whatever the outcome.
#   with-update-server.sh [--tls] [--signed] [--sha256] -- program [args]
# --tls serves https; --signed signs the descriptor with a key made for this
# run and hands its public point to the program as KV_UPDATE_SERVER_KEY (hex),
# and also publishes /expired/kvinstall.txt: the same descriptor, validly
# signed, whose Expires has passed (an old descriptor served again);
# --tls and --sha256 set KV_UPDATE_SERVER_TLS / KV_UPDATE_SERVER_SHA256 so the
# program can insist on them.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
work="$(mktemp -d)"
trap '"$KV_ROOT/scripts/update-server.sh" stop --dir "$work/server"; rm -rf "$work"' EXIT
options=() signed=0
while [[ ${1:-} == --* ]]; do
  case $1 in
    --tls) options+=("$1"); export KV_UPDATE_SERVER_TLS=1 ;;
    --sha256) options+=("$1"); export KV_UPDATE_SERVER_SHA256=1 ;;
    --signed)
      signed=1
      "$KV_ROOT/scripts/descriptor-sign.sh" keygen "$work/key" >/dev/null
      options+=(--sign "$work/key/private.pem")
      KV_UPDATE_SERVER_KEY="$(openssl pkey -pubin -in "$work/key/public.pem" -outform DER | od -An -v -tx1 | tr -d ' \n' | tail -c 128)"
      export KV_UPDATE_SERVER_KEY ;;
    --) shift; break ;;
  esac
  shift
done
info="$("$KV_ROOT/scripts/update-server.sh" start --dir "$work/server" --version 3.2.1 "${options[@]}")"
KV_UPDATE_SERVER_URL="$(sed -n 's/^url=//p' <<<"$info")"
if ((signed)); then
  mkdir -p "$work/server/html/expired"
  cp "$work/server/html/kvinstall.txt" "$work/server/html/expired/kvinstall.txt"
  "$KV_ROOT/scripts/descriptor-sign.sh" sign --expires "$(date -u -d '-1 hour' +%Y-%m-%dT%H:%M:%SZ)" \
    "$work/key/private.pem" "$work/server/html/expired/kvinstall.txt" >/dev/null
fi
KV_UPDATE_SERVER_DIR="Z:${work//\//\\}\\server"
export KV_UPDATE_SERVER_URL KV_UPDATE_SERVER_DIR
echo "update server: $KV_UPDATE_SERVER_URL ($work/server) ${options[*]}"
"$KV_ROOT/scripts/wine-run.sh" "$@"

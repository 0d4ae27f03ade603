#!/usr/bin/env bash
# Runs a test program under Wine with the real update server around it:
# scripts/update-server.sh start (nginx on a free 127.0.0.1 port, Version
# 3.2.1), the program with KV_UPDATE_SERVER_URL and KV_UPDATE_SERVER_DIR (a
# Windows path) in its environment, then stop, whatever the outcome.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
work="$(mktemp -d)"
trap '"$KV_ROOT/scripts/update-server.sh" stop --dir "$work"; rm -rf "$work"' EXIT
info="$("$KV_ROOT/scripts/update-server.sh" start --dir "$work" --version 3.2.1)"
KV_UPDATE_SERVER_URL="$(sed -n 's/^url=//p' <<<"$info")"
KV_UPDATE_SERVER_DIR="Z:${work//\//\\}"
export KV_UPDATE_SERVER_URL KV_UPDATE_SERVER_DIR
echo "update server: $KV_UPDATE_SERVER_URL ($work)"
"$KV_ROOT/scripts/wine-run.sh" "$@"

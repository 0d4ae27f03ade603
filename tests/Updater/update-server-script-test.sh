#!/usr/bin/env bash
# scripts/update-server.sh as a user drives it: start serves the generated
# descriptor and the package, a second start on a port that another server
# already holds fails instead of reporting that server as its own, stop ends
# the server. Needs the built stand-in package.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
work="$(mktemp -d)"
server="$KV_ROOT/scripts/update-server.sh"
trap '"$server" stop --dir "$work/a"; "$server" stop --dir "$work/b"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

info="$("$server" start --dir "$work/a" --version 3.2.1)"
url="$(sed -n 's/^url=//p' <<<"$info")"
port="${url##*:}"
curl -sf "$url/kvinstall.txt" | grep -q '^Version=3.2.1' || fail "descriptor not served"
curl -sf "$url/kvinstaller.exe" | cmp -s - "$work/a/html/kvinstaller.exe" || fail "package not served"

# Regression: the readiness check took the first server's answer for the
# second one's, so this start printed a URL and succeeded.
if "$server" start --dir "$work/b" --port "$port" --version 9.9.9 >/dev/null 2>&1; then
  fail "a second server on the busy port $port reported success"
fi
[[ ! -f $work/b/nginx.pid ]] || fail "the failed server left a pid file"
curl -sf "$url/kvinstall.txt" | grep -q '^Version=3.2.1' || fail "the first server stopped answering"

pid="$(cat "$work/a/nginx.pid")"
"$server" stop --dir "$work/a"
! kill -0 "$pid" 2>/dev/null || fail "stop left nginx $pid running"
echo "update-server.sh: start, busy port and stop behave"

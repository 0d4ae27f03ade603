#!/usr/bin/env bash
# scripts/update-server.sh as a user drives it: start serves the generated
# descriptor and the package, a second start on a port that another server
# already holds fails instead of reporting that server as its own, stop ends
# the server; scripts/descriptor-sign.sh writes the signed "Expires". Needs
# the built stand-in package.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/env.sh"
work="$(mktemp -d)"
server="$KV_ROOT/scripts/update-server.sh"
trap '"$server" stop --dir "$work/a"; "$server" stop --dir "$work/b"; "$server" stop --dir "$work/c"; rm -rf "$work"' EXIT
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
# An ended nginx may linger as a zombie until its adopter reaps it.
state="$(ps -o stat= -p "$pid" 2>/dev/null || true)"
[[ -z $state || $state == Z* ]] || fail "stop left nginx $pid running"
# It no longer answers either.
! curl -sf "$url/kvinstall.txt" >/dev/null || fail "the stopped server still answers"

# Signing: "Expires" (UTC) goes into [Install] before the signature is made,
# 30 days ahead unless told otherwise, replacing an earlier one; the signed
# server publishes it with the Sha256 that a signed descriptor must carry.
sign="$KV_ROOT/scripts/descriptor-sign.sh"
"$sign" keygen "$work/key" >/dev/null
expires_of() { tr -d '\r' <"$1" | sed -n 's/^Expires=//p'; }
days_ahead() { echo $(( ($(date -u -d "$1" +%s) - $(date -u +%s) + 43200) / 86400 )); }
printf '[Other]\r\nExpires=keep\r\n[Install]\r\nUrl=u\r\nExpires=2001-01-01T00:00:00Z\r\nVersion=1\r\n' >"$work/d.txt"
"$sign" sign "$work/key/private.pem" "$work/d.txt" >/dev/null
[[ "$(expires_of "$work/d.txt" | sed -n 2p)" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]] ||
  fail "no Expires of the form YYYY-MM-DDTHH:MM:SSZ: $(cat -A "$work/d.txt")"
[[ $(days_ahead "$(expires_of "$work/d.txt" | sed -n 2p)") -eq 30 ]] || fail "Expires is not 30 days ahead"
[[ $(expires_of "$work/d.txt" | wc -l) -eq 2 && $(expires_of "$work/d.txt" | sed -n 1p) == keep ]] ||
  fail "Expires of [Install] not replaced, or another section's touched: $(cat -A "$work/d.txt")"
[[ $(grep -c $'\r$' "$work/d.txt") -eq 6 ]] || fail "line ends changed: $(cat -A "$work/d.txt")"
"$sign" verify "$work/key/public.pem" "$work/d.txt" >/dev/null || fail "the signature does not cover the Expires"
"$sign" sign --days 7 "$work/key/private.pem" "$work/d.txt" >/dev/null
[[ $(days_ahead "$(expires_of "$work/d.txt" | sed -n 2p)") -eq 7 ]] || fail "--days 7 ignored"
printf 'Url=u\n' >"$work/none.txt"
! "$sign" sign "$work/key/private.pem" "$work/none.txt" 2>/dev/null || fail "signed a text without [Install]"

info="$("$server" start --dir "$work/c" --version 3.2.1 --sign "$work/key/private.pem")"
url="$(sed -n 's/^url=//p' <<<"$info")"
curl -sf "$url/kvinstall.txt" >"$work/served.txt"
curl -sf "$url/kvinstall.txt.sig" >"$work/served.txt.sig"
"$sign" verify "$work/key/public.pem" "$work/served.txt" >/dev/null || fail "the served signature does not verify"
grep -q "^Sha256=$(sha256sum "$work/c/html/kvinstaller.exe" | cut -c1-64)"$'\r$' "$work/served.txt" ||
  fail "the signed descriptor has no Sha256"
[[ $(days_ahead "$(expires_of "$work/served.txt")") -eq 30 ]] || fail "the signed descriptor has no Expires"
echo "update-server.sh: start, busy port, stop and signing behave"

#!/usr/bin/env bash
# A real update server for the demo and the end-to-end tests: a private nginx
# on 127.0.0.1 serving a generated "kvinstall.txt" and the stand-in package.
#
#   scripts/update-server.sh start [--dir DIR] [--port N] [--rate RATE]
#                                  [--package FILE] [--version TEXT]
#                                  [--tls] [--sign KEY.pem] [--sha256] [--portal]
#                                  [--piece-size BYTES]
#   scripts/update-server.sh stop  --dir DIR
#
# start: serves DIR/html (DIR defaults to a new temp folder; config, pid,
# logs and temp folders live in DIR too) on --port (default: a free port;
# the demo build's descriptor URLs use 18380). Published files:
#   /kvinstall.txt           [Install] Url, murl, Size, Md5, Version, PieceSize
#                            and Pieces of the package
#   /kvinstaller.exe         the package (default: the built kvinstaller-standin.exe)
#   /mirror/kvinstaller.exe  the same bytes, named by "murl"
# --rate limits every response to RATE bytes per second (nginx syntax: 200k,
# 1m), so that a download's progress is visible. --tls serves https (a
# self-signed certificate) and names https addresses; --sign publishes
# /kvinstall.txt.sig made with that private key (scripts/descriptor-sign.sh,
# which adds an Expires 30 days ahead) and the Sha256 that a signed
# descriptor must carry; --sha256 adds the Sha256 to an unsigned one too.
# --piece-size sets the pieces' size (scripts/piece-digests.sh chooses one
# from the package's size by default); 0 leaves PieceSize and Pieces out.
# --portal answers every address with an HTML sign-in page (200, text/html)
# while DIR/html/portal-on exists, as a hotel's or airport's network does
# until the user signs in; remove that file and the real files are served.
# Prints, one per line:
#   url=http(s)://127.0.0.1:PORT   dir=DIR   access_log=DIR/logs/access.log
# The access log has one line per request: addr "request" status bytes "range".
# stop: ends the nginx started with that DIR (the folder stays).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
source "$KV_ROOT/scripts/nginx-lib.sh"

usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "${BASH_SOURCE[0]}"; }

command=${1:-}
[[ $command == --help || $command == -h || -z $command ]] && { usage; exit 0; }
shift
dir="" port="" rate="" package="$KV_BUILD/tools/kvinstaller-standin.exe" version="1.0.0" tls=0 sign="" sha=0 portal=0 piece=""
while (($#)); do
  case $1 in
    --dir) dir=$2; shift 2 ;;
    --port) port=$2; shift 2 ;;
    --rate) rate=$2; shift 2 ;;
    --package) package=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --tls) tls=1; shift ;;
    --sign) sign=$2; shift 2 ;;
    --sha256) sha=1; shift ;;
    --portal) portal=1; shift ;;
    --piece-size) piece=$2; shift 2 ;;
    --help|-h) usage; exit 0 ;;
    *) echo "update-server.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

case $command in
  start)
    [[ -f $package ]] || { echo "update-server.sh: no package at $package (build first)" >&2; exit 1; }
    [[ -n $rate && ! $rate =~ ^[0-9]+[kKmM]?$ ]] && { echo "update-server.sh: bad --rate $rate" >&2; exit 2; }
    dir="${dir:-$(mktemp -d)}"
    mkdir -p "$dir/html/mirror"
    dir="$(cd "$dir" && pwd)"
    if [[ -f $dir/nginx.pid ]] && kill -0 "$(cat "$dir/nginx.pid")" 2>/dev/null; then
      echo "update-server.sh: a server already runs for $dir" >&2; exit 1
    fi
    cp "$package" "$dir/html/kvinstaller.exe"
    cp "$package" "$dir/html/mirror/kvinstaller.exe"
    nginx_work="$dir" nginx_port="${port:-$(nginx_free_port)}" nginx_access_log=1 nginx_tls=$tls
    scheme=http
    ((tls)) && scheme=https
    size=$(stat -c %s "$dir/html/kvinstaller.exe")
    md5=$(md5sum "$dir/html/kvinstaller.exe" | cut -d' ' -f1)
    {
      printf '[Install]\r\nUrl=%s://127.0.0.1:%s/kvinstaller.exe\r\nmurl=%s://localhost:%s/mirror/kvinstaller.exe;\r\n' \
        "$scheme" "$nginx_port" "$scheme" "$nginx_port"
      printf 'Size=%s\r\nMd5=%s\r\nVersion=%s\r\n' "$size" "$md5" "$version"
      if ((sha)) || [[ -n $sign ]]; then printf 'Sha256=%s\r\n' "$(sha256sum "$dir/html/kvinstaller.exe" | cut -d' ' -f1)"; fi
      if [[ $piece != 0 ]]; then
        "$KV_ROOT/scripts/piece-digests.sh" ${piece:+--piece-size "$piece"} "$dir/html/kvinstaller.exe" | sed 's/$/\r/'
      fi
    } > "$dir/html/kvinstall.txt"
    rm -f "$dir/html/kvinstall.txt.sig"
    if [[ -n $sign ]]; then "$KV_ROOT/scripts/descriptor-sign.sh" sign "$sign" "$dir/html/kvinstall.txt" >/dev/null; fi
    rm -f "$dir/html/portal-on"
    if ((portal)); then
      printf '<!DOCTYPE html>\n<html><head><title>Wi-Fi</title></head><body><form>Sign in to use the internet</form></body></html>\n' \
        > "$dir/html/portal.html"
      touch "$dir/html/portal-on"
      nginx_server_extra='location / { if (-f $document_root/portal-on) { rewrite ^ /portal.html break; } }'
    fi
    nginx_start "$dir/html" "${rate:+limit_rate $rate;}"
    echo "url=$scheme://127.0.0.1:$nginx_port"
    echo "dir=$dir"
    echo "access_log=$dir/logs/access.log"
    ;;
  stop)
    [[ -n $dir ]] || { echo "update-server.sh: stop needs --dir" >&2; exit 2; }
    pidfile="$dir/nginx.pid"
    [[ -f $pidfile ]] || exit 0
    pid=$(cat "$pidfile")
    # nginx was started by an earlier call, so it is not our child: once it
    # has exited it may stay a zombie until its adopter reaps it.
    running() { local state; state="$(ps -o stat= -p "$pid" 2>/dev/null)"; [[ -n $state && $state != Z* ]]; }
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do running || break; sleep 0.1; done
    if running; then kill -9 "$pid" 2>/dev/null || true; fi
    rm -f "$pidfile"
    ;;
  *) usage >&2; exit 2 ;;
esac

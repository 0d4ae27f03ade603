#!/usr/bin/env bash
# Parallel ranges against one connection. The project's nginx serves a
# package of random bytes (KV_BENCH_MIB, default 256 MiB) on two loopback
# ports, under /limited/ with a per-connection rate limit (limit_rate
# KV_BENCH_RATE, default 8m: a CDN's cap) and at / without one.
#   limited:   bench_download.exe (CHttpDownloadFile, Url on one port and
#              murl on the other), curl.exe (one connection, Url) and aria2c
#              (-x4 -s4, both addresses), in rounds;
#   unlimited: bench_download.exe in ranges against the same engine kept to
#              one stream (connections 1), in rounds.
# Every file is compared with the source by SHA-256. Prints MB/s (10^6
# bytes) per run, the medians and their ratios, and the peak resident memory
# of bench_download.exe and curl.exe (the Wine process's largest resident
# set, as bench_download.sh measures it). Times: the programs' own transfer
# time (bench_download.exe from Download() to its completion, curl.exe's
# time_total) and aria2c's wall clock (a native process starts in
# milliseconds; a Wine process in one or two seconds, printed as "wall").
# The package we ship is about 100 MiB: KV_BENCH_MIB=96 KV_BENCH_RATE=4m
# tries that case as a user meets it. KV_BENCH_PIECES=1 adds, each round, the
# limited download with piece digests (scripts/piece-digests.sh) and prints
# its ratio to the plain one, the main thread's busiest second of message
# handling in each, and SHA-256's CPU time per GiB. KV_BENCH_UNLIMITED=0
# leaves the unlimited runs out (shorter). KV_BENCH_ACCESS_LOG=1 logs every
# request of the limited runs and prints, per client, the connections and
# requests it made and what each connection got against the cap (nginx's
# limit_rate is per request and lets each request start with one second's
# worth of bytes).
# aria2c comes from Debian: installed through apt when missing, as
# scripts/setup.sh installs its packages.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
rounds="${KV_BENCH_ROUNDS:-3}"
mib="${KV_BENCH_MIB:-256}"
rate="${KV_BENCH_RATE:-8m}"
with_pieces="${KV_BENCH_PIECES:-0}"
unlimited="${KV_BENCH_UNLIMITED:-1}"
access="${KV_BENCH_ACCESS_LOG:-0}"
curl_exe="${KV_CURL_EXE:-$KV_DEP_LINKS/curl/bin/curl.exe}"
bench_exe="$KV_BUILD/bench/bench_download.exe"
[[ -x $bench_exe || -f $bench_exe ]] || { echo "build first: scripts/build.sh ($bench_exe missing)" >&2; exit 1; }
if ! command -v aria2c >/dev/null; then
  echo "installing aria2" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends aria2 >/dev/null
fi
source "$KV_ROOT/bench/bench-lib.sh"

# Runs a command, passes its output through and appends "PEAK_KIB <n>" (the
# largest resident set of the processes it waited for) and "WALL <s>".
with_peak() {
  python3 -c 'import resource, subprocess, sys, time
t = time.monotonic()
r = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE)
w = time.monotonic() - t
sys.stdout.write(r.stdout.decode(errors="replace") + "\nPEAK_KIB %d\nWALL %.3f\n" % (resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, w))
sys.exit(r.returncode)' "$@"
}

nginx_access_log=$access nginx_log_format='$msec $connection $connection_requests $request_time $bytes_sent "$http_range"' \
  bench_serve_package "$mib" "$rate"
echo "$rounds rounds, $mib MiB package, limit_rate $rate per connection, ports $nginx_port and $port2"

out="$work/out/pkg.bin"
# requests NAME: the requests logged since the last call, per connection.
logged=0
requests() {
  ((access)) || return 0
  local log="$nginx_work/logs/access.log"
  python3 - "$1" "$rate" <(tail -n +$((logged + 1)) "$log") <<'PY'
import collections, sys
name, rate, path = sys.argv[1], sys.argv[2], sys.argv[3]
cap = float(rate[:-1]) * {"k": 1024, "m": 1024**2}.get(rate[-1].lower(), 1) if rate[-1].isalpha() else float(rate)
conns = collections.defaultdict(list)
for line in open(path):
    end, conn, n, took, sent, rng = line.split(" ", 5)
    conns[conn].append((float(end) - float(took), float(end), int(sent), rng.strip().strip('"')))
first = min(r[0] for c in conns.values() for r in c)
print(f"{name}: {len(conns)} connections, {sum(len(c) for c in conns.values())} requests (cap {cap / 1e6:.2f} MB/s each)")
for conn, reqs in sorted(conns.items(), key=lambda kv: kv[1][0][0]):
    start, end, sent = reqs[0][0], reqs[-1][1], sum(r[2] for r in reqs)
    spans = " ".join(f"[{r[0] - first:.2f}-{r[1] - first:.2f}s {r[2] / 1e6:.1f} MB {r[3] or 'whole'} {r[2] / max(r[1] - r[0], 1e-3) / 1e6:.2f} MB/s]" for r in reqs)
    print(f"  connection {conn}: {len(reqs)} requests, {sent / 1e6:.1f} MB in {end - start:.2f} s = {sent / max(end - start, 1e-3) / cap:.2f}x cap: {spans}")
PY
  logged=$(wc -l < "$log")
}
check() {
  [[ $(sha256sum "$out" | cut -c1-64) == "$digest" ]] || { echo "FAILED: $1 gave a file that differs from the source" >&2; exit 1; }
  rm -f "$out" "$out.ranges" "$out.aria2"
}
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$line"; }
# engine URL MIRRORS [CONNECTIONS [PIECES FILE]] -> rate (MB/s), peak (KiB),
# wall (s), main thread's busiest second (ms), SHA-256 ms per GiB
engine() {
  local text
  text="$(with_peak "$KV_ROOT/scripts/wine-run.sh" "$bench_exe" "$1" "$(winpath "$out")" "$2" "$size" ${3:+"$3"} \
    ${4:+"$(winpath "$4")"} | tr -d '\r')"
  line="$(grep '^RESULT' <<<"$text")"
  [[ $(field type) == 0 && $(field bytes) == "$size" ]] || { echo "FAILED: bench_download.exe: $line" >&2; exit 1; }
  e_rate=$(field mbps)
  e_peak=$(sed -n 's/^PEAK_KIB //p' <<<"$text")
  e_wall=$(sed -n 's/^WALL //p' <<<"$text")
  e_busy=$(field main_busiest_ms)
  e_sha=$(field sha256_ms_per_gib)
  check bench_download.exe
}

main_l="http://127.0.0.1:$nginx_port/limited/pkg.bin"
mirror_l="http://127.0.0.1:$port2/limited/pkg.bin"
main_u="http://127.0.0.1:$nginx_port/pkg.bin"
mirror_u="http://127.0.0.1:$port2/pkg.bin"
eng=() crl=() ari=() ep=() cp=() par=() one=() pp=() op=() pcs=() busy=() pbusy=() sha=()
for round in $(seq "$rounds"); do
  engine "$main_l" "$mirror_l"
  requests "round $round, engine"
  eng+=("$e_rate") ep+=("$e_peak") busy+=("$e_busy")
  ewall=$e_wall
  if ((with_pieces)); then
    engine "$main_l" "$mirror_l" 0 "$work/pieces.txt"
    requests "round $round, engine with piece digests"
    pcs+=("$e_rate") pbusy+=("$e_busy") sha+=("$e_sha")
    echo "round $round, limited with piece digests: engine ${pcs[-1]} MB/s (main thread's busiest second ${pbusy[-1]} ms," \
         "plain ${busy[-1]} ms; SHA-256 ${sha[-1]} ms CPU per GiB)"
  fi
  text="$(with_peak "$KV_ROOT/scripts/wine-run.sh" "$curl_exe" -s -o "$(winpath "$out")" -w '%{time_total}\n' "$main_l" | tr -d '\r')"
  ctime="$(head -n 1 <<<"$text")"
  check curl.exe
  requests "round $round, curl.exe"
  crl+=("$(python3 -c "print(f'{$size / $ctime / 1e6:.1f}')")")
  cp+=("$(sed -n 's/^PEAK_KIB //p' <<<"$text")")
  cwall="$(sed -n 's/^WALL //p' <<<"$text")"
  start=$(date +%s.%N)
  aria2c -q -x4 -s4 -k1M --file-allocation=none --allow-overwrite=true --auto-file-renaming=false \
    -d "$work/out" -o pkg.bin "$main_l" "$mirror_l"
  atime=$(python3 -c "print($(date +%s.%N) - $start)")
  check aria2c
  requests "round $round, aria2c"
  ari+=("$(python3 -c "print(f'{$size / $atime / 1e6:.1f}')")")
  echo "round $round, limited: engine ${eng[-1]} MB/s (wall ${ewall} s, peak ${ep[-1]} KiB)," \
       "curl.exe ${crl[-1]} MB/s (wall ${cwall} s, peak ${cp[-1]} KiB), aria2c ${ari[-1]} MB/s"
  ((unlimited)) || continue
  engine "$main_u" "$mirror_u"
  par+=("$e_rate") pp+=("$e_peak")
  engine "$main_u" "$mirror_u" 1
  one+=("$e_rate") op+=("$e_peak")
  requests "round $round, unlimited runs" >/dev/null
  echo "round $round, unlimited: ranges ${par[-1]} MB/s (peak ${pp[-1]} KiB), one stream ${one[-1]} MB/s (peak ${op[-1]} KiB)"
done

python3 - "${eng[*]}" "${crl[*]}" "${ari[*]}" "${ep[*]}" "${cp[*]}" "${par[*]:-0}" "${one[*]:-0}" "${pp[*]:-0}" "${op[*]:-0}" \
  "${pcs[*]:-0}" "${busy[*]}" "${pbusy[*]:-0}" "${sha[*]:-0}" <<'PY'
import statistics, sys
m = [statistics.median(float(x) for x in a.split()) for a in sys.argv[1:]]
eng, crl, ari, ep, cp, par, one, pp, op, pcs, busy, pbusy, sha = m
print(f"limited   median: engine {eng:.1f} MB/s, curl.exe {crl:.1f} MB/s, aria2c {ari:.1f} MB/s")
print(f"ratio engine / curl.exe:          {eng / crl:.2f} (target >= 3.50)")
print(f"ratio engine / aria2c:            {eng / ari:.2f} (target >= 0.95)")
if pcs:
    print(f"with piece digests median: {pcs:.1f} MB/s; ratio to plain {pcs / eng:.2f} (target >= 0.97)")
    print(f"main thread's busiest second: {pbusy:.1f} ms with pieces, {busy:.1f} ms plain (target < 50); SHA-256 {sha:.0f} ms CPU per GiB")
if not par:
    sys.exit(0)
print(f"unlimited median: ranges {par:.1f} MB/s, one stream {one:.1f} MB/s")
print(f"ratio ranges / one stream:        {par / one:.2f} (target >= 0.95)")
print(f"peak resident (limited): engine {ep / 1024:.1f} MiB, curl.exe {cp / 1024:.1f} MiB; ratio {ep / cp:.2f} (target <= 1.50)")
print(f"peak resident (unlimited): ranges {pp / 1024:.1f} MiB, one stream {op / 1024:.1f} MiB")
PY

#!/usr/bin/env bash
# MD5 throughput: a 512 MiB file of random bytes (made in a temp folder, read
# once to warm the page cache, deleted afterwards) is hashed, in alternating
# rounds, by bench_md5.exe (Md5OfFile) under Wine and by md5sum. Every
# digest is compared with md5sum's. Prints MB/s (10^6 bytes) per round, the
# medians and their ratio (target >= 0.80). bench_md5.exe times the hashing
# itself (not Wine's start-up); md5sum is timed around the command.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/env.sh"
rounds="${KV_BENCH_ROUNDS:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
file="$work/big.bin"
head -c $((512 * 1024 * 1024)) /dev/urandom > "$file"
cat "$file" > /dev/null
bytes=$(stat -c %s "$file")
winfile="Z:${file//\//\\}"
echo "$rounds rounds of 512 MiB each"

ours=() theirs=() reference=""
for round in $(seq "$rounds"); do
  line="$("$KV_ROOT/scripts/wine-run.sh" "$KV_BUILD/bench/bench_md5.exe" "$winfile" | tr -d '\r' | grep '^RESULT')"
  ours+=("$(sed -n 's/.* mbps=\([^ ]*\).*/\1/p' <<<"$line")")
  digest="$(sed -n 's/.* md5=\([0-9a-f]*\).*/\1/p' <<<"$line")"

  t0=$(date +%s%N)
  reference="$(md5sum "$file" | cut -d' ' -f1)"
  t1=$(date +%s%N)
  theirs+=("$(python3 -c "print(f'{$bytes / (($t1 - $t0) / 1e9) / 1e6:.1f}')")")
  [[ $digest == "$reference" ]] || { echo "FAILED: bench_md5.exe gave $digest, md5sum $reference" >&2; exit 1; }
  echo "round $round: Md5OfFile ${ours[-1]} MB/s, md5sum ${theirs[-1]} MB/s (digests equal)"
done

python3 - "${ours[*]}" "${theirs[*]}" <<'PY'
import statistics, sys
ours = statistics.median(float(x) for x in sys.argv[1].split())
theirs = statistics.median(float(x) for x in sys.argv[2].split())
print(f"median Md5OfFile under Wine: {ours:.1f} MB/s")
print(f"median md5sum:               {theirs:.1f} MB/s")
print(f"ratio Md5OfFile / md5sum: {ours / theirs:.2f} (target >= 0.80)")
PY

#!/usr/bin/env bash
# Builds and runs the benchmarks by hand; each prints its figures and the
# ratio to a peer measured in the same run. Pass names to run only some.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$KV_ROOT/scripts/build.sh"
names=("$@")
if ((${#names[@]} == 0)); then
  names=()
  for exe in "$KV_BUILD"/bench/bench_*.exe; do names+=("$(basename "$exe" .exe)"); done
fi
for name in "${names[@]}"; do
  echo "== $name"
  if [[ -x $KV_ROOT/bench/$name.sh ]]; then
    "$KV_ROOT/scripts/with-display.sh" "$KV_ROOT/bench/$name.sh"
  else
    "$KV_ROOT/scripts/with-display.sh" "$KV_ROOT/scripts/wine-run.sh" "$KV_BUILD/bench/$name.exe"
  fi
done

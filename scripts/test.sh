#!/usr/bin/env bash
# Builds everything (installing what is missing) and runs the whole test
# suite through ctest, each test executable under Wine on an Xvfb display.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$KV_ROOT/scripts/build.sh"
"$KV_ROOT/scripts/with-display.sh" bash -c '
  source "$KV_ROOT/scripts/env.sh"
  status=0
  ctest --test-dir "$KV_BUILD" --output-on-failure "$@" || status=$?
  exit $status' ctest "$@"

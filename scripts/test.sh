#!/usr/bin/env bash
# Builds everything (installing what is missing) and runs the whole test
# suite through ctest, each test executable under Wine on an Xvfb display.
# Two tests at a time unless CTEST_PARALLEL_LEVEL says otherwise: the
# end-to-end scenarios (mostly waiting on windows, servers and downloads)
# beside the test programs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
export CTEST_PARALLEL_LEVEL="${CTEST_PARALLEL_LEVEL:-2}"
"$KV_ROOT/scripts/build.sh"
"$KV_ROOT/scripts/with-display.sh" bash -c '
  source "$KV_ROOT/scripts/env.sh"
  status=0
  ctest --test-dir "$KV_BUILD" --output-on-failure "$@" || status=$?
  exit $status' ctest "$@"

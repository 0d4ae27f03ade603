#!/usr/bin/env bash
# The main job: builds the installer (installing what is missing), starts it
# under Wine on an X display, saves a screenshot of its window to
# out/screens/, then closes the window and reports how the program ended.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$KV_ROOT/scripts/build.sh"
exec "$KV_ROOT/scripts/with-display.sh" bash "$KV_ROOT/scripts/demo-session.sh" "$@"
